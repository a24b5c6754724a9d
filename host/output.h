// The host's output: one line per observable event on standard output,
// flushed at once so that the lines interleave correctly with those of the
// platform's UI and of the loaded libraries.
#pragma once

#include <string>

#include "platform/ui.h"

namespace host {

void emitLine(const std::string& line);
using platform::quoteText;

}  // namespace host
