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

namespace corvex {

// Past this size the file is deleted before the next entry (no rotation).
inline constexpr uint64_t kLogSizeLimit = 0x1FFFFF;  // 2,097,151 bytes

inline constexpr char kLibxmlModule[] = "LIBXML";
inline constexpr char kUnknownModule[] = "<can't determine application>";

// The log file's path; creates the "BookmarkPlugin" folder when missing.
std::filesystem::path logFilePath();

// "%s %s: %s: " from the short date (MM/DD/YY), the time (HH:MM:SS, 24-hour
// clock) of the given local time and the module (or the unknown-module text).
std::string logPrefix(const char* module, std::time_t when);

void logMessage(const char* module, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logMessageV(const char* module, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

// The system's text for the calling thread's last error code, or
// "FormatMessage for error has been failed" when the system has none.
std::string lastErrorText();

}  // namespace corvex
