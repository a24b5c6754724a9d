#include "exchange/log_sink.h"

#include <atomic>

namespace exchange {
namespace {

std::atomic<LogSink> g_sink{nullptr};

}  // namespace

LogSink setLogSink(LogSink sink) { return g_sink.exchange(sink); }

void writeLog(const std::string& module, const std::string& text) {
  if (LogSink sink = g_sink.load()) sink(module.c_str(), text.c_str());
}

}  // namespace exchange
