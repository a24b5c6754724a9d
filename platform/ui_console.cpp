// The console side of the UI: how every event becomes a line of output.
#include <cstdio>
#include <functional>
#include <mutex>

#include "platform/codepage.h"
#include "platform/ui_backend.h"

namespace platform {
namespace {

std::mutex& sinkLock() {
  static std::mutex lock;
  return lock;
}

std::function<void(std::string_view)>& sink() {
  static auto* s = new std::function<void(std::string_view)>();
  return *s;
}

}  // namespace

void setUiOutput(std::function<void(std::string_view line)> newSink) {
  std::lock_guard<std::mutex> guard(sinkLock());
  sink() = std::move(newSink);
}

namespace ui {

void emit(const std::string& line) {
  std::lock_guard<std::mutex> guard(sinkLock());
  if (sink()) {
    sink()(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string quote(const std::string& ansi) {
  bool plain = true;
  for (unsigned char c : ansi) plain = plain && c < 0x80;
  return quoteText(plain ? ansi : utf16ToUtf8(ansiToUtf16(ansi)));
}

}  // namespace ui

std::string quoteText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace platform
