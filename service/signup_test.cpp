// The sign-up page over real HTTP.
#include <gtest/gtest.h>

#include "service/signup_page.h"
#include "service/testing/test_service.h"

namespace service {
namespace {

using testing::fetch;
using testing::RunningService;

const std::vector<std::string> kForm = {"Content-Type: application/x-www-form-urlencoded"};

TEST(Signup, ThePlugInsAddressShowsTheForm) {
  RunningService service;
  auto r = fetch("GET", service.url("/registration.jsp?action=Navigation&param=0"));
  EXPECT_EQ(r.status, 200);
  for (const char* part : {"<form method=\"post\" action=\"/registration.jsp\"", "name=\"user\"",
                           "name=\"pass\"", "name=\"pass2\""}) {
    EXPECT_NE(r.body.find(part), std::string::npos) << part;
  }
}

TEST(Signup, TheNewAccountIsAcceptedByTheProtocol) {
  RunningService service;
  auto r = fetch("POST", service.url("/registration.jsp"), "user=dora&pass=p%2Bq+r&pass2=p%2Bq+r",
                 kForm);
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.body.find("Account created"), std::string::npos) << r.body;
  // The form's "+" is a space; the engine writes a space as %20.
  EXPECT_EQ(fetch("GET", service.dataUrl("dora", "p+q%20r", "get")).status, 200);
  EXPECT_EQ(fetch("GET", service.dataUrl("dora", "wrong", "get")).status, 401);
}

TEST(Signup, RefusedAttemptsShowTheFormAgainWithTheReason) {
  RunningService service;
  service.addAccount("erin", "pw");
  struct Row {
    const char* body;
    const char* reason;
  };
  const Row rows[] = {
      {"user=erin&pass=x&pass2=x", "The user name is taken."},
      {"user=fred&pass=x&pass2=y", "The passwords differ."},
      {"user=fred&pass=&pass2=", "Please fill in all fields."},
      {"user=&pass=x&pass2=x", "Please fill in all fields."},
      {"", "Please fill in all fields."},
      {"user=f%26red&pass=x&pass2=x", "The user name may hold only"},
      {"user=fred&pass=a%26b&pass2=a%26b", "The password may hold only"},
      {"user=fr%C3%A9d&pass=x&pass2=x", "The user name may hold only"},
      {"user=%3Cscript%3E%00&pass=x&pass2=x", "The user name may hold only"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body);
    auto r = fetch("POST", service.url("/registration.jsp"), row.body, kForm);
    EXPECT_EQ(r.status, 400);
    EXPECT_NE(r.body.find(row.reason), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("<form"), std::string::npos);
    EXPECT_EQ(r.body.find("<script>"), std::string::npos);  // the typed name is escaped
  }
  EXPECT_EQ(fetch("GET", service.dataUrl("fred", "x", "get")).status, 401);
}

}  // namespace
}  // namespace service
