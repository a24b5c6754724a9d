#include "platform/library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/message_loop.h"
#include "platform/tick.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

// The test libraries are built beside the test program (host/testdata).
std::filesystem::path testLibrary(const char* name) {
  return executablePath().parent_path() / (std::string("lib") + name + ".so");
}

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = prefix_.path() / "entry.log";
    setenv("LOADERTEST_LOG", log_.c_str(), 1);
    unsetenv("LOADERTEST_FAIL_ATTACH");
    unsetenv("LOADERTEST_LEAK_TIMER");
  }
  void TearDown() override {
    unsetenv("LOADERTEST_LOG");
    unsetenv("LOADERTEST_FAIL_ATTACH");
    unsetenv("LOADERTEST_LEAK_TIMER");
  }
  std::string takeLog() {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove(log_);
    return text.str();
  }

  testsupport::TempPrefix prefix_;
  std::filesystem::path log_;
};

TEST_F(LibraryTest, ImportedLibraryAttachesFirstAndDetachesLast) {
  Library plugin;
  ASSERT_EQ(Library::open(testLibrary("loadertest_plugin"), &plugin), "");
  EXPECT_EQ(takeLog(), "engine attach\nplugin attach\n");
  auto sees = plugin.function<int (*)()>("loadertestPluginSeesEngine");
  ASSERT_NE(sees, nullptr);
  EXPECT_EQ(sees(), 1);
  plugin.close();
  EXPECT_EQ(takeLog(), "plugin detach\nengine detach\n");
  EXPECT_FALSE(libraryIsMapped(testLibrary("loadertest_plugin")));
  EXPECT_FALSE(libraryIsMapped(testLibrary("loadertest_engine")));
}

TEST_F(LibraryTest, OpensAreCountedAndOnlyTheLastCloseDetaches) {
  Library first, second;
  ASSERT_EQ(Library::open(testLibrary("loadertest_plugin"), &first), "");
  ASSERT_EQ(Library::open(testLibrary("loadertest_plugin"), &second), "");
  EXPECT_EQ(takeLog(), "engine attach\nplugin attach\n");
  EXPECT_EQ(first.moduleHandle(), second.moduleHandle());
  first.close();
  EXPECT_EQ(takeLog(), "");
  Library moved = std::move(second);
  EXPECT_FALSE(second.isOpen());
  moved.close();
  EXPECT_EQ(takeLog(), "plugin detach\nengine detach\n");
}

TEST_F(LibraryTest, DependencyOpenedOnItsOwnStaysAttachedWhileItsDependentLives) {
  Library engine, plugin;
  ASSERT_EQ(Library::open(testLibrary("loadertest_engine"), &engine), "");
  ASSERT_EQ(Library::open(testLibrary("loadertest_plugin"), &plugin), "");
  EXPECT_EQ(takeLog(), "engine attach\nplugin attach\n");
  engine.close();
  EXPECT_EQ(takeLog(), "");
  plugin.close();
  EXPECT_EQ(takeLog(), "plugin detach\nengine detach\n");
}

TEST_F(LibraryTest, EntryPointsAreFoundThroughALibraryWithoutOne) {
  Library plain;
  ASSERT_EQ(Library::open(testLibrary("loadertest_plain"), &plain), "");
  EXPECT_EQ(takeLog(), "engine attach\nplugin attach\n");
  EXPECT_EQ(plain.function<int (*)()>("loadertestPlainValue")(), 101);
  plain.close();
  EXPECT_EQ(takeLog(), "plugin detach\nengine detach\n");
}

TEST_F(LibraryTest, FailedAttachUnloadsAgain) {
  struct Case {
    const char* failing;
    const char* log;
  } cases[] = {
      // The failing library gets its detach call; its dependencies are released.
      {"plugin", "engine attach\nplugin attach\nplugin detach\nengine detach\n"},
      // A failing dependency stops the load before the library is attached.
      {"engine", "engine attach\nengine detach\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    setenv("LOADERTEST_FAIL_ATTACH", c.failing, 1);
    Library plugin;
    std::string error = Library::open(testLibrary("loadertest_plugin"), &plugin);
    EXPECT_NE(error.find("process attach"), std::string::npos) << error;
    EXPECT_FALSE(plugin.isOpen());
    EXPECT_EQ(takeLog(), c.log);
    EXPECT_FALSE(libraryIsMapped(testLibrary("loadertest_plugin")));
    EXPECT_FALSE(libraryIsMapped(testLibrary("loadertest_engine")));
  }
}

TEST_F(LibraryTest, SymbolsPathsAndMissingFiles) {
  Library engine;
  EXPECT_EQ(engine.symbol("DllMain"), nullptr);  // closed
  std::string error = Library::open(prefix_.path() / "libmissing.so", &engine);
  EXPECT_NE(error.find("libmissing.so"), std::string::npos) << error;
  ASSERT_EQ(Library::open(testLibrary("loadertest_engine"), &engine), "");
  EXPECT_NE(engine.symbol("DllMain"), nullptr);
  EXPECT_EQ(engine.symbol("noSuchFunction"), nullptr);
  EXPECT_EQ(engine.path(), testLibrary("loadertest_engine"));
  EXPECT_EQ(moduleFileName(engine.moduleHandle()), testLibrary("loadertest_engine"));
  EXPECT_EQ(moduleFileName(nullptr), executablePath());
  EXPECT_EQ(executablePath().filename(), "platform_tests");
}

TEST_F(LibraryTest, TimerLeftBehindByAnUnloadedLibraryIsKilled) {
  setenv("LOADERTEST_LEAK_TIMER", "1", 1);
  const unsigned before = threadTimerCount();
  Library plugin;
  ASSERT_EQ(Library::open(testLibrary("loadertest_plugin"), &plugin), "");
  EXPECT_EQ(threadTimerCount(), before + 1);
  plugin.close();
  ASSERT_FALSE(libraryIsMapped(testLibrary("loadertest_plugin")));
  EXPECT_EQ(threadTimerCount(), before);
  pumpMessagesFor(30);  // would call into unmapped code otherwise
  EXPECT_EQ(takeLog(), "engine attach\nplugin attach\nplugin detach\nengine detach\n");
}

}  // namespace
}  // namespace platform
