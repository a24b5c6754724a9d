// The plug-in's lines in the shared log (exchange/log_file.h), under the
// application name "Explorer": what the Favorites store left alone and why.
// Like the engine's entries they are copied to standard output.
#pragma once

#include <string>

namespace favorites {

// One entry; the text brings no line break, one is added.
void logNote(const std::string& text);

// Routes the exchange code's log lines of this library (duplicates dropped
// while a document is prepared for writing) to the same log.
void connectExchangeLog();

}  // namespace favorites
