#include "engine/engine_log.h"

#include <cstdio>

#include "platform/last_error.h"

namespace corvex {
namespace {

std::string formatV(const char* format, va_list args) {
  if (!format) return std::string();
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

void logMessageV(const char* module, const char* format, va_list args) {
  // The log must never take its caller down with it.
  try {
    const std::string entry = exchange::appendLogEntry(module, formatV(format, args));
    std::fwrite(entry.data(), 1, entry.size(), stdout);
    std::fflush(stdout);
  } catch (...) {
  }
}

void logMessage(const char* module, const char* format, ...) {
  va_list args;
  va_start(args, format);
  logMessageV(module, format, args);
  va_end(args);
}

std::string lastErrorText() {
  std::string text;
  if (!platform::systemErrorText(platform::lastError(), &text)) {
    return "FormatMessage for error has been failed";
  }
  return text;
}

}  // namespace corvex
