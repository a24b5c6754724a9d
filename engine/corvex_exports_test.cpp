// The exported functions, called in-process through the engine's core.
#include <gtest/gtest.h>

#include "engine/client_app.h"
#include "engine/corvex.h"
#include "engine/engine_test_support.h"

namespace corvex {
namespace {

using test::EngineTest;

class ExportsTest : public EngineTest {};

int g_registerCalls = 0;
void countRegisterCall() { ++g_registerCalls; }

TEST_F(ExportsTest, QueriesAnswerTrueOnlyForOne) {
  ClientApp* app = getClientApp("Explorer");
  EXPECT_TRUE(SyncEnabled("Explorer", false));
  EXPECT_FALSE(SyncAfterStart("Explorer"));
  EXPECT_TRUE(SyncBeforeExit("Explorer"));
  EXPECT_TRUE(SyncAuto("Explorer"));
  EXPECT_EQ(SyncInterval("Explorer"), 15);
  EXPECT_EQ(ShowErrorIcon("Explorer"), 1);

  app->enabled = 2;
  app->syncAfterStart = 1;
  app->syncBeforeExit = -1;
  app->syncAuto = 0;
  app->syncPeriod = 100000;
  app->errorIcon = 7;
  EXPECT_FALSE(SyncEnabled("Explorer", false));
  EXPECT_TRUE(SyncAfterStart("Explorer"));
  EXPECT_FALSE(SyncBeforeExit("Explorer"));
  EXPECT_FALSE(SyncAuto("Explorer"));
  EXPECT_EQ(SyncInterval("Explorer"), 100000) << "no bounds applied";
  EXPECT_EQ(ShowErrorIcon("Explorer"), 7) << "handed out unchanged";
  EXPECT_EQ(clientAppRegistry().size(), 1u);
}

TEST_F(ExportsTest, SyncEnabledSeesRegistryChangesOnlyWithReload) {
  ASSERT_TRUE(SyncEnabled("Explorer", false));
  SetSyncAuto("Explorer", 1);  // a complete registry copy
  createKey().setDword("enabled", 0);
  EXPECT_TRUE(SyncEnabled("Explorer", false));
  EXPECT_FALSE(SyncEnabled("Explorer", true));
  EXPECT_FALSE(SyncEnabled("Explorer", false));
}

TEST_F(ExportsTest, SetSyncAutoWritesTheWholeSetToTheRegistry) {
  getClientApp("Explorer")->syncPeriod = 25;
  SetSyncAuto("Explorer", 0);
  EXPECT_FALSE(SyncAuto("Explorer"));
  EXPECT_EQ(dwordValue("sync_auto"), 0u);
  EXPECT_EQ(dwordValue("sync_period"), 25u);
  EXPECT_EQ(dwordValue("error_icon"), 1u);
  SetSyncAuto("Explorer", 3);
  EXPECT_EQ(dwordValue("sync_auto"), 3u);
  EXPECT_FALSE(SyncAuto("Explorer"));
}

TEST_F(ExportsTest, InstanceCounter) {
  EXPECT_EQ(GetInstanceCount("Explorer"), 0ul);
  IncInstanceCount("Explorer");
  IncInstanceCount("Explorer");
  EXPECT_EQ(GetInstanceCount("Explorer"), 2ul);
  InitInstanceCount("Explorer");
  EXPECT_EQ(GetInstanceCount("Explorer"), 0ul);
  DecInstanceCount("Explorer");
  EXPECT_EQ(GetInstanceCount("Explorer"), 4294967295ul);
  EXPECT_EQ(dwordValue("inscount"), 4294967295u);
  IncInstanceCount("Explorer");
  EXPECT_EQ(GetInstanceCount("Explorer"), 0ul);
}

TEST_F(ExportsTest, SynchronizeReportsValidationFailures) {
  getClientApp("Explorer")->server.clear();
  std::string data = "<bookmarks/>";
  std::string error = "old text";
  EXPECT_FALSE(Synchronize(false, "Explorer", &data, &error));
  EXPECT_EQ(error, "Server should not be empty.");
  EXPECT_EQ(data, "<bookmarks/>");
  EXPECT_NE(logText().find(": Explorer: Validation error: Server should not be empty..\n"),
            std::string::npos);
}

TEST_F(ExportsTest, SynchronizeDirectlyAndThroughTheUnansweredDialog) {
  std::string data = "<bookmarks/>";
  std::string error = "old text";
  // Directly, the procedure runs and finds no service on the default server.
  EXPECT_FALSE(Synchronize(false, "Explorer", &data, &error));
  EXPECT_NE(error, "");
  EXPECT_NE(error, "old text");
  EXPECT_EQ(data, "<bookmarks/>");
  // Through the options dialog, which nobody answers (QUORVANE_UI unset: the
  // console closes it with "Close"): no press, so nothing to apply.
  EXPECT_TRUE(Synchronize(true, "Explorer", &data, &error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(data, "");
  // The dialog path wrote the settings back to the registry.
  EXPECT_EQ(dwordValue("sync_period"), 15u);
  EXPECT_FALSE(Synchronize(false, "Explorer", nullptr, nullptr));
}

TEST_F(ExportsTest, SetRegisterFuncNamesNoApplication) {
  SetRegisterFunc(nullptr);
  EXPECT_EQ(registerFunc(), nullptr);
  EXPECT_TRUE(clientAppRegistry().empty());
  SetRegisterFunc(countRegisterCall);
  ASSERT_EQ(registerFunc(), &countRegisterCall);
  registerFunc()();
  EXPECT_EQ(g_registerCalls, 1);
  SetRegisterFunc(nullptr);
  EXPECT_TRUE(clientAppRegistry().empty());
}

}  // namespace
}  // namespace corvex
