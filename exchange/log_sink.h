// Where the exchange code writes its log lines. The engine connects its log at
// load; without a sink the lines go nowhere. The module is the application
// name; the text is one line, ending with "\n".
#pragma once

#include <string>

namespace exchange {

using LogSink = void (*)(const char* module, const char* text);

// Sets the process-wide sink (null: discard) and returns the previous one.
LogSink setLogSink(LogSink sink);

void writeLog(const std::string& module, const std::string& text);

}  // namespace exchange
