// iexplore.exe: the headless browser stand-in. Reads commands (host/commands.h)
// from standard input or a script file and prints one line per event.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/browser.h"
#include "host/commands.h"
#include "host/output.h"
#include "platform/library.h"
#include "platform/message_loop.h"
#include "platform/tick.h"
#include "platform/ui.h"

namespace {

constexpr const char* kUsage =
    "usage: iexplore.exe [--script FILE]\n"
    "The browser stand-in. Loads the browser helper objects and toolbar buttons\n"
    "that the registry names, then runs commands, one per line, from FILE or\n"
    "standard input, printing one line per event (see docs/host.md):\n"
    "  open | close N | press N [TEXT] | advance DURATION | sleep DURATION | tick\n"
    "  ui ACTION | offline | online | echo TEXT | quit\n"
    "At the end of the input it quits as \"quit\" does. Exit status 0, or 1 when a\n"
    "command was refused, 2 for bad arguments.\n"
    "Environment: QUORVANE_PREFIX, QUORVANE_CLOCK=virtual, QUORVANE_UI=script:FILE.\n";

// Lines from a file descriptor, waiting at most a given time for the next.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  enum class Result { Line, Timeout, End };

  Result next(std::string* line, int timeoutMs) {
    for (;;) {
      if (size_t end = buffer_.find('\n'); end != std::string::npos) {
        *line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return Result::Line;
      }
      if (ended_) {
        if (buffer_.empty()) return Result::End;
        *line = std::move(buffer_);
        buffer_.clear();
        return Result::Line;
      }
      pollfd p{fd_, POLLIN, 0};
      int ready = poll(&p, 1, timeoutMs);
      if (ready == 0) return Result::Timeout;
      if (ready < 0 && errno == EINTR) continue;
      char chunk[4096];
      ssize_t n = ready < 0 ? -1 : read(fd_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ended_ = true;
        continue;
      }
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
  bool ended_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  const char* scriptPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
      scriptPath = argv[++i];
    } else {
      std::fprintf(stderr, "iexplore.exe: unexpected argument %s (see --help)\n", argv[i]);
      return 2;
    }
  }
  int fd = 0;
  if (scriptPath) {
    fd = open(scriptPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "iexplore.exe: cannot read %s: %s\n", scriptPath, std::strerror(errno));
      return 2;
    }
  }

  host::emitLine(
      "start executable=" + host::quoteText(platform::executablePath().filename().string()) +
      " clock=" + (platform::virtualClockInUse() ? "virtual" : "real") +
      " ui=" + platform::uiBackendName());
  host::Browser browser;
  browser.start();
  host::CommandRunner runner(&browser);
  LineReader reader(fd);
  int lineNumber = 0;
  std::string line;
  for (;;) {
    platform::dispatchPendingMessages();
    // While waiting for input the real clock's timers keep firing; the
    // virtual clock moves only by command.
    int timeout = -1;
    uint32_t untilTimer = 0;
    if (!platform::virtualClockInUse() && platform::timeUntilNextTimer(&untilTimer)) {
      timeout = static_cast<int>(std::min<uint32_t>(untilTimer, 1u << 30));
    }
    LineReader::Result result = reader.next(&line, timeout);
    if (result == LineReader::Result::Timeout) continue;
    if (result == LineReader::Result::End) break;
    if (!runner.run(line, ++lineNumber)) break;
  }
  browser.quit();
  host::emitLine("quit");
  if (fd != 0) close(fd);
  return runner.errors() ? 1 : 0;
}
