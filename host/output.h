// The host's output: one line per observable event on standard output,
// flushed at once so that the lines interleave correctly with those of the
// platform's UI and of the loaded libraries.
#pragma once

#include <string>

namespace host {

void emitLine(const std::string& line);
// A UTF-8 text in double quotes, with \\, \", \r, \n, \t and \xHH escaped.
std::string quoteText(const std::string& text);

}  // namespace host
