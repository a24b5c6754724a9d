// The calling thread's last error, as the system keeps it: every failing
// platform call sets it; successful calls leave it alone unless they say so.
#pragma once

#include <string>

#include "platform/errors.h"
#include "platform/export.h"

namespace platform {

PLATFORM_API Status lastError();
PLATFORM_API void setLastError(Status code);

// Sets the last error from an errno value (mapped onto the nearest Win32 code)
// and returns the code it set.
PLATFORM_API Status setLastErrorFromErrno(int err);

// The system's message text for a code, as the message table gives it: the
// sentence ends with ".\r\n" ("The system cannot find the file specified.\r\n").
// Returns false and leaves *text alone when the system has no text for it.
PLATFORM_API bool systemErrorText(Status code, std::string* text);

}  // namespace platform
