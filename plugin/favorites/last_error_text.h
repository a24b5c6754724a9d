// The plug-in's text for the calling thread's last error.
#pragma once

#include <string>

namespace favorites {

// The system's message text for the last error code, in the ANSI code page,
// or "FormatMessage for error has been failed" when the system has none.
std::string lastErrorText();

// The same text widened to UTF-16, as the Favorites operations return it.
std::u16string lastErrorText16();

}  // namespace favorites
