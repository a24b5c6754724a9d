#include "engine/validation.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/client_app.h"
#include "engine/engine_test_support.h"

namespace corvex {
namespace {

using test::EngineTest;

class ValidationTest : public EngineTest {};

TEST_F(ValidationTest, FirstFailingCheckGivesTheMessage) {
  struct Case {
    const char* label;
    std::function<void(ClientApp&)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"defaults", [](ClientApp&) {}, ""},
      {"empty server", [](ClientApp& a) { a.server.clear(); }, "Server should not be empty."},
      {"port 0", [](ClientApp& a) { a.serverPort = 0; },
       "Port should be greather than \"0\". Usually 80 or 8080."},
      {"port 4294967295 passes", [](ClientApp& a) { a.serverPort = 4294967295u; }, ""},
      {"empty user name", [](ClientApp& a) { a.username.clear(); },
       "Username should not be empty."},
      {"proxy auth without proxy user",
       [](ClientApp& a) {
         a.proxyAuth = 1;
         a.proxyUsername.clear();
       },
       "Proxy Username should not be empty."},
      {"proxy auth 2 is not 1",
       [](ClientApp& a) {
         a.proxyAuth = 2;
         a.proxyUsername.clear();
       },
       ""},
      {"period 0", [](ClientApp& a) { a.syncPeriod = 0; },
       "Sync period should be greather than \"0\""},
      {"server wins over period",
       [](ClientApp& a) {
         a.server.clear();
         a.syncPeriod = 0;
       },
       "Server should not be empty."},
      {"user wins over proxy user",
       [](ClientApp& a) {
         a.username.clear();
         a.proxyAuth = 1;
         a.proxyUsername.clear();
       },
       "Username should not be empty."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ClientApp app("Explorer");
    c.change(app);
    EXPECT_EQ(validateSettings(app), c.message);
  }
  EXPECT_EQ(logText().find("validation"), std::string::npos) << "the plain form logs nothing";
}

TEST_F(ValidationTest, LoggingFormWritesTheMessage) {
  ClientApp app("Explorer");
  EXPECT_EQ(validateSettingsLogged(app), "");
  EXPECT_EQ(logText(), "");
  app.username.clear();
  EXPECT_EQ(validateSettingsLogged(app), "Username should not be empty.");
  EXPECT_EQ(app.username, "") << "validation changes nothing";
  EXPECT_NE(
      logText().find(": Explorer: Can't set proxy settings, because validation has been failed: "
                     "Username should not be empty..\n"),
      std::string::npos);
}

}  // namespace
}  // namespace corvex
