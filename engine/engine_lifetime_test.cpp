#include "engine/engine_lifetime.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include "engine/client_app.h"
#include "engine/engine_test_support.h"
#include "exchange/log_sink.h"

namespace corvex {
namespace {

using test::EngineTest;

class EngineLifetimeTest : public EngineTest {
 protected:
  void TearDown() override {
    engineDetach();
    xmlSetGenericErrorFunc(nullptr, nullptr);
  }
};

TEST_F(EngineLifetimeTest, LoadLogsFirstAndRoutesLibxmlAndExchangeLines) {
  engineAttach();
  xmlDocPtr doc = xmlReadMemory("<a><b></a>", 10, "noname.xml", nullptr, 0);
  EXPECT_EQ(doc, nullptr);
  exchange::writeLog("Explorer", "Merged 3 items.\n");

  const std::string log = test::maskTimestamps(logText());
  EXPECT_EQ(log.rfind("<stamp> LIBXML: Initialization performed\n", 0), 0u) << log;
  EXPECT_NE(log.find("<stamp> LIBXML: noname.xml:1: "), std::string::npos) << log;
  EXPECT_NE(log.find("<stamp> Explorer: Merged 3 items.\n"), std::string::npos) << log;
}

TEST_F(EngineLifetimeTest, UnloadWritesEverySettingsFile) {
  engineAttach();
  getClientApp("Explorer")->syncAfterStart = 1;
  getClientApp("Other");
  engineDetach();
  EXPECT_TRUE(clientAppRegistry().empty());
  EXPECT_NE(test::readFileText(settingsFile()).find("\r\nsync.afterstart=1\r\n"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(settingsFile("Other")));
  exchange::writeLog("Explorer", "after unload\n");
  EXPECT_EQ(logText().find("after unload"), std::string::npos);
}

}  // namespace
}  // namespace corvex
