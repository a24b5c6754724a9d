// The log file both libraries write: "bookmarks.log" in the per-user data
// folder, shared by every application and process. Each entry is opened,
// appended and closed on its own; there is no lock, so entries of several
// processes may interleave.
//
// Entry layout: "MM/DD/YY HH:MM:SS: module: " then the message, which brings
// its own line break. Past kLogSizeLimit bytes the file is deleted before
// the next entry (no rotation).
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace exchange {

inline constexpr uint64_t kLogSizeLimit = 0x1FFFFF;  // 2,097,151 bytes
inline constexpr char kUnknownModule[] = "<can't determine application>";

// The log file's path; creates the data folder when missing. Empty when the
// data folder is unknown.
std::filesystem::path logFilePath();

// "%s %s: %s: " from the short date (MM/DD/YY), the time (HH:MM:SS, 24-hour
// clock) of the given local time and the module (or the unknown-module text).
std::string logPrefix(const char* module, std::time_t when);

// Appends prefix + text to the log file and returns the whole entry. Never
// throws and never fails its caller: a log that cannot be written is skipped.
std::string appendLogEntry(const char* module, const std::string& text);

}  // namespace exchange
