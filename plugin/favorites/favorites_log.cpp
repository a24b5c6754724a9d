#include "plugin/favorites/favorites_log.h"

#include <cstdio>

#include "exchange/log_file.h"
#include "exchange/log_sink.h"

namespace favorites {
namespace {

constexpr char kModule[] = "Explorer";

void writeEntry(const char* module, const std::string& text) {
  const std::string entry = exchange::appendLogEntry(module, text);
  std::fwrite(entry.data(), 1, entry.size(), stdout);
  std::fflush(stdout);
}

void exchangeSink(const char* module, const char* text) { writeEntry(module, text ? text : ""); }

}  // namespace

void logNote(const std::string& text) { writeEntry(kModule, text + "\n"); }

void connectExchangeLog() { exchange::setLogSink(&exchangeSink); }

}  // namespace favorites
