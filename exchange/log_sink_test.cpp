#include "exchange/log_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace exchange {
namespace {

std::vector<std::string> g_lines;

void capture(const char* module, const char* text) {
  g_lines.push_back(std::string(module) + "|" + text);
}

TEST(LogSink, DeliversToTheSetSinkAndDiscardsWithoutOne) {
  g_lines.clear();
  writeLog("Explorer", "dropped\n");
  LogSink previous = setLogSink(&capture);
  writeLog("Explorer", "kept\n");
  EXPECT_EQ(setLogSink(previous), &capture);
  writeLog("Explorer", "dropped again\n");
  EXPECT_EQ(g_lines, std::vector<std::string>{"Explorer|kept\n"});
}

}  // namespace
}  // namespace exchange
