#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/errors.h"
#include "platform/last_error.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

// A child process talking to the test over two pipes: it reports progress
// with one byte, and the test lets it go on (or end) by writing a byte or
// closing its end.
class Child {
 public:
  // Forks and runs body(in, out) in the child, which then exits with its result.
  explicit Child(const std::function<int(int in, int out)>& body) {
    int down[2], up[2];
    if (pipe2(down, O_CLOEXEC) != 0 || pipe2(up, O_CLOEXEC) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      ::close(down[1]);
      ::close(up[0]);
      _exit(body(down[0], up[1]));
    }
    ::close(down[0]);
    ::close(up[1]);
    toChild_ = down[1];
    fromChild_ = up[0];
  }
  // Starts this test program again with only the named test, which finds
  // its instructions in the environment. Its standard input and descriptor 3
  // are the pipes; its own output is discarded.
  Child(const std::string& test, const std::string& mutexName) {
    int down[2], up[2];
    if (pipe2(down, O_CLOEXEC) != 0 || pipe2(up, O_CLOEXEC) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      // dup2 leaves the copies open across exec; the originals close.
      dup2(down[0], 0);
      if (up[1] == 3) {
        fcntl(3, F_SETFD, 0);
      } else {
        dup2(up[1], 3);
      }
      int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
      dup2(devNull, 1);
      setenv("QUORVANE_TEST_MUTEX", mutexName.c_str(), 1);
      std::string filter = "--gtest_filter=" + test;
      execl("/proc/self/exe", "platform_tests", filter.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(down[0]);
    ::close(up[1]);
    toChild_ = down[1];
    fromChild_ = up[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      wait();
    }
    if (toChild_ >= 0) ::close(toChild_);
    if (fromChild_ >= 0) ::close(fromChild_);
  }

  // The next byte the child reports; 0 when it ended.
  char awaitReport() {
    char c = 0;
    while (::read(fromChild_, &c, 1) < 0 && errno == EINTR) {
    }
    return c;
  }
  void letGo() {
    ::close(toChild_);
    toChild_ = -1;
  }
  void kill9() { kill(pid_, SIGKILL); }
  int wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
};

void report(int out, char c) {
  if (::write(out, &c, 1) != 1) _exit(99);
}

// Blocks until the test writes or closes the pipe.
void awaitTest(int in) {
  char c;
  while (::read(in, &c, 1) < 0 && errno == EINTR) {
  }
}

TEST(NamedMutex, ExistsWhileAHandleIsOpen) {
  testsupport::TempPrefix prefix;
  EXPECT_FALSE(NamedMutex::exists("BoOkmArkPlugIn_StArtEd"));
  {
    NamedMutex first("BoOkmArkPlugIn_StArtEd");
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(first.alreadyExisted());
    EXPECT_EQ(lastError(), kOk);
    EXPECT_EQ(first.name(), "BoOkmArkPlugIn_StArtEd");
    EXPECT_TRUE(NamedMutex::exists("BoOkmArkPlugIn_StArtEd"));
    EXPECT_FALSE(NamedMutex::exists("bookmarkplugin_started"));  // names keep their case
    {
      NamedMutex second("BoOkmArkPlugIn_StArtEd");
      EXPECT_TRUE(second.alreadyExisted());
      EXPECT_EQ(lastError(), kAlreadyExists);
    }
    EXPECT_TRUE(NamedMutex::exists("BoOkmArkPlugIn_StArtEd"));
    first.close();
    EXPECT_FALSE(first.valid());
    EXPECT_FALSE(NamedMutex::exists("BoOkmArkPlugIn_StArtEd"));
  }
  NamedMutex again("BoOkmArkPlugIn_StArtEd");
  EXPECT_FALSE(again.alreadyExisted());
  // Names that are not file names work too; "Local\" is the default namespace.
  NamedMutex odd("Local\\a/b\\..\\c d");
  EXPECT_TRUE(odd.valid());
  EXPECT_TRUE(NamedMutex::exists("a/b\\..\\c d"));
  NamedMutex longName(std::string(400, 'x'));
  EXPECT_TRUE(longName.valid());
  EXPECT_FALSE(NamedMutex::exists(std::string(399, 'x')));
}

TEST(NamedMutex, OwnershipIsRecursiveAndBelongsToAThread) {
  testsupport::TempPrefix prefix;
  NamedMutex a("Corvex_CliEntApp_RegisTry");
  NamedMutex b("Corvex_CliEntApp_RegisTry");
  ASSERT_TRUE(a.lock());
  ASSERT_TRUE(b.lock());  // the same mutex through another handle
  ASSERT_TRUE(a.tryLock());
  auto otherThreadCanTake = [&] {
    bool took = false;
    std::thread other([&] {
      took = b.tryLock();
      if (took) b.unlock();
      EXPECT_FALSE(a.unlock() && took);  // not the owner
    });
    other.join();
    return took;
  };
  EXPECT_FALSE(otherThreadCanTake());
  EXPECT_TRUE(a.unlock());
  EXPECT_TRUE(b.unlock());
  EXPECT_FALSE(otherThreadCanTake());
  EXPECT_TRUE(a.unlock());
  EXPECT_FALSE(a.unlock());  // no ownership left
  EXPECT_EQ(lastError(), kNotOwner);
  EXPECT_TRUE(otherThreadCanTake());
}

TEST(NamedMutex, WaitingThreadGetsTheMutexWhenReleased) {
  testsupport::TempPrefix prefix;
  NamedMutex mutex("wait");
  ASSERT_TRUE(mutex.lock());
  std::atomic<bool> owned{false};
  std::thread waiter([&] {
    NamedMutex mine("wait");
    ASSERT_TRUE(mine.lock());
    owned = true;
    mine.unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(owned);
  mutex.unlock();
  waiter.join();
  EXPECT_TRUE(owned);
}

TEST(NamedMutex, InitiallyOwnedOnlyByItsCreator) {
  testsupport::TempPrefix prefix;
  NamedMutex creator("owned", true);
  ASSERT_FALSE(creator.alreadyExisted());
  std::thread other([] {
    NamedMutex late("owned", true);
    EXPECT_TRUE(late.alreadyExisted());
    EXPECT_FALSE(late.tryLock());
    EXPECT_FALSE(late.unlock());
  });
  other.join();
  EXPECT_TRUE(creator.unlock());
}

TEST(NamedMutex, OtherProcessesSeeHandlesAndOwnership) {
  testsupport::TempPrefix prefix;
  Child child([](int in, int out) {
    NamedMutex mutex("BookmarkPlugin_Synchronize");
    if (mutex.alreadyExisted() || !mutex.lock()) return 1;
    report(out, 'L');
    awaitTest(in);
    mutex.unlock();
    report(out, 'U');
    awaitTest(in);
    return 0;
  });
  ASSERT_EQ(child.awaitReport(), 'L');
  EXPECT_TRUE(NamedMutex::exists("BookmarkPlugin_Synchronize"));
  NamedMutex mine("BookmarkPlugin_Synchronize");
  EXPECT_TRUE(mine.alreadyExisted());
  EXPECT_FALSE(mine.tryLock());
  std::atomic<bool> locked{false};
  std::thread waiter([&] { locked = mine.lock(); });
  child.letGo();
  waiter.join();  // the unbounded wait ends when the child releases
  EXPECT_TRUE(locked);
  EXPECT_EQ(child.awaitReport(), 'U');
  EXPECT_EQ(child.wait(), 0);
  EXPECT_TRUE(NamedMutex::exists("BookmarkPlugin_Synchronize"));  // our handle
  mine.close();
  EXPECT_FALSE(NamedMutex::exists("BookmarkPlugin_Synchronize"));
}

TEST(NamedMutex, AProcessThatDiesReleasesHandleAndOwnership) {
  testsupport::TempPrefix prefix;
  Child child([](int in, int out) {
    NamedMutex mutex("dies", true);
    report(out, mutex.alreadyExisted() ? 'E' : 'O');
    awaitTest(in);
    return 0;
  });
  ASSERT_EQ(child.awaitReport(), 'O');
  {
    NamedMutex mine("dies");
    EXPECT_TRUE(mine.alreadyExisted());
    EXPECT_FALSE(mine.tryLock());
    child.kill9();
    EXPECT_TRUE(mine.lock());  // returns once the kernel dropped the child's lock
    EXPECT_TRUE(mine.unlock());
  }
  EXPECT_EQ(child.wait(), 128 + SIGKILL);
  EXPECT_FALSE(NamedMutex::exists("dies"));
}

TEST(NamedMutex, ForkedChildDoesNotKeepTheParentsHandles) {
  testsupport::TempPrefix prefix;
  NamedMutex parent("inherited");
  ASSERT_TRUE(parent.lock());
  Child child([&](int in, int out) {
    // The copy of the parent's handle is closed in the child.
    report(out, parent.valid() ? 'V' : 'I');
    awaitTest(in);
    return 0;
  });
  EXPECT_EQ(child.awaitReport(), 'I');
  EXPECT_TRUE(parent.valid());
  EXPECT_TRUE(parent.unlock());
  parent.close();
  EXPECT_FALSE(NamedMutex::exists("inherited"));  // while the child still runs
  child.letGo();
  EXPECT_EQ(child.wait(), 0);
}

// Run only as the program started by the next test: holds the mutex named
// in the environment until its standard input closes.
TEST(NamedMutexChildProgram, HoldsTheMutex) {
  const char* name = std::getenv("QUORVANE_TEST_MUTEX");
  if (!name) GTEST_SKIP() << "started by NamedMutex.AnotherProgramSharesTheMutex";
  NamedMutex mutex(name);
  ASSERT_TRUE(mutex.lock());
  report(3, mutex.alreadyExisted() ? 'E' : 'L');
  awaitTest(0);
}

TEST(NamedMutex, AnotherProgramSharesTheMutexAndInheritsNoLockFile) {
  testsupport::TempPrefix prefix;
  NamedMutex held("held across exec");
  ASSERT_TRUE(held.valid());
  {
    Child program("NamedMutexChildProgram.HoldsTheMutex", "Corvex_CliEntApp_RegisTry");
    ASSERT_EQ(program.awaitReport(), 'L');
    // The program started while we held "held across exec": had it inherited
    // the lock file, the mutex would outlive our handle.
    held.close();
    EXPECT_FALSE(NamedMutex::exists("held across exec"));
    NamedMutex shared("Corvex_CliEntApp_RegisTry");
    EXPECT_TRUE(shared.alreadyExisted());
    EXPECT_FALSE(shared.tryLock());
    program.letGo();
    EXPECT_TRUE(shared.lock());
    EXPECT_TRUE(shared.unlock());
    EXPECT_EQ(program.wait(), 0);
  }
}

}  // namespace
}  // namespace platform
