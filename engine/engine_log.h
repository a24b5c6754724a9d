// The engine log: one plain-text file per user, "bookmarks.log" in the
// "BookmarkPlugin" folder of the roaming application-data folder, shared by
// every application and process. Each entry is opened, appended and closed on
// its own (no handle stays open) and copied to standard output. There is no
// lock: entries of several processes may interleave.
//
// Entry layout: "MM/DD/YY HH:MM:SS: module: " then the message, which brings
// its own line break. The module is the application name, "LIBXML" for
// libxml2's messages, or "<can't determine application>" for a null module.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

#include "exchange/log_file.h"

namespace corvex {

// The log file, its entry prefix and its size limit are shared with the
// plug-in (exchange/log_file.h).
using exchange::kLogSizeLimit;
using exchange::kUnknownModule;
using exchange::logFilePath;
using exchange::logPrefix;

inline constexpr char kLibxmlModule[] = "LIBXML";

void logMessage(const char* module, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logMessageV(const char* module, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

// The system's text for the calling thread's last error code, or
// "FormatMessage for error has been failed" when the system has none.
std::string lastErrorText();

}  // namespace corvex
