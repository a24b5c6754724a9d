#include "host/commands.h"

#include <charconv>

#include "host/output.h"
#include "platform/message_loop.h"
#include "platform/tick.h"
#include "platform/ui.h"

#if __has_include("platform/network.h")
#include "platform/network.h"
#define HOST_HAS_NETWORK 1
#else
#include "platform/files.h"
#include "platform/prefix.h"
#endif

namespace host {
namespace {

// Splits off the first word; *rest receives what follows its blank.
std::string firstWord(const std::string& line, std::string* rest) {
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) {
    rest->clear();
    return {};
  }
  size_t end = line.find_first_of(" \t", start);
  if (end == std::string::npos) {
    rest->clear();
    return line.substr(start);
  }
  *rest = line.substr(end + 1);
  return line.substr(start, end - start);
}

bool toWindowNumber(const std::string& text, int* number) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *number);
  return ec == std::errc() && end == text.data() + text.size() && *number > 0;
}

std::string trimmed(const std::string& text) {
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(start, end - start + 1);
}

}  // namespace

bool setConnectionOffline(bool offline) {
#ifdef HOST_HAS_NETWORK
  return platform::setInternetOffline(offline);
#else
  // The marker file whose presence means offline.
  const std::filesystem::path marker = platform::prefixDirectory("run") / "offline";
  if (offline) return platform::fileExists(marker) || platform::writeWholeFile(marker, "");
  return !platform::fileExists(marker) || platform::removeFile(marker);
#endif
}

void CommandRunner::fail(int lineNumber, const std::string& text) {
  ++errors_;
  emitLine("error line=" + std::to_string(lineNumber) + " text=" + quoteText(text));
}

bool CommandRunner::run(const std::string& rawLine, int lineNumber) {
  std::string line = rawLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  std::string rest;
  const std::string command = firstWord(line, &rest);
  if (command.empty() || command[0] == '#') return true;
  const std::string argument = trimmed(rest);

  if (command == "open") {
    if (!argument.empty()) return fail(lineNumber, "open takes no arguments"), true;
    browser_->openWindow();
  } else if (command == "close" || command == "press") {
    std::string buttonText;
    const std::string numberText = firstWord(argument, &buttonText);
    int number = 0;
    if (!toWindowNumber(numberText, &number)) {
      return fail(lineNumber, command + " needs a window number"), true;
    }
    if (command == "close" && !trimmed(buttonText).empty()) {
      return fail(lineNumber, "close takes one window number"), true;
    }
    std::string error = command == "close" ? browser_->closeWindow(number)
                                           : browser_->pressButton(number, trimmed(buttonText));
    if (!error.empty()) fail(lineNumber, error);
  } else if (command == "advance" || command == "sleep") {
    uint64_t milliseconds = 0;
    if (!platform::parseDurationText(argument, &milliseconds)) {
      return fail(lineNumber, command + " needs a duration such as 250ms, 20s, 5m or 1h"), true;
    }
    if (command == "advance") {
      if (!platform::virtualClockInUse()) {
        return fail(lineNumber, "advance needs the virtual clock (QUORVANE_CLOCK=virtual)"), true;
      }
      platform::advanceClockAndDispatch(milliseconds);
      emitLine("clock tick=" + std::to_string(platform::tickCount()));
    } else {
      while (milliseconds > platform::kTimerMaximum) {
        platform::pumpMessagesFor(platform::kTimerMaximum);
        milliseconds -= platform::kTimerMaximum;
      }
      platform::pumpMessagesFor(static_cast<uint32_t>(milliseconds));
    }
  } else if (command == "tick") {
    emitLine("clock tick=" + std::to_string(platform::tickCount()));
  } else if (command == "ui") {
    if (std::string error = platform::queueUserAction(argument); !error.empty()) {
      fail(lineNumber, error);
    }
  } else if (command == "offline" || command == "online") {
    const bool offline = command == "offline";
    if (!setConnectionOffline(offline)) return fail(lineNumber, "cannot switch " + command), true;
    emitLine(std::string("connection ") + (offline ? "offline" : "online"));
  } else if (command == "echo") {
    emitLine("echo " + rest);
  } else if (command == "quit") {
    return false;
  } else {
    fail(lineNumber, "unknown command " + command + " (see --help)");
  }
  return true;
}

}  // namespace host
