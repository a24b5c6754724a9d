// The synchronize procedure: fetch the server's list, decide from its answer,
// the local cache and (on a first synchronisation) the configured method what
// the new common state is, send it to the server when the server lacks it,
// keep it as the new cache, and hand back what the host must apply.
// runSynchronization itself is declared in engine/synchronize.h.
#pragma once

#include <filesystem>
#include <string>

namespace corvex {

class ClientApp;

// How a first synchronisation (no usable cache) treats the two lists.
enum class FirstSyncMethod {
  Merge = 0,       // "firstSyncMethod1": merge local and server lists
  TakeServer = 1,  // "firstSyncMethod2": the server's list replaces the local one
  TakeLocal = 2,   // "firstSyncMethod3": the local list replaces the server's
};

inline constexpr char kMethodFileName[] = "syncMethod.ini";

inline constexpr char kNotEnabled[] = "Synchronization isn't enabled";
inline constexpr char kBadInputXml[] = "Could not parse XML with bookmarks given from extension";
inline constexpr char kBadDownloadedXml[] = "Could not parse downloaded XML";
inline constexpr char kNoTypeAttribute[] =
    "Could not parse downloaded XML. Bookmarks type attribute does not found.";
inline constexpr char kEmptyMerge[] = "Merging returns empty document.";
inline constexpr char kListKeptChanging[] =
    "The bookmark list on the service kept changing while this computer synchronized; nothing was changed, "
    "and the next synchronization will try again.";

// Downloads and merges in one run: another computer that stores its list
// in between makes the service refuse this one's, and the run starts over
// from the same local list and cache.
inline constexpr int kMaxSyncAttempts = 3;

// The method file: "syncMethod.ini" in the folder of the engine library.
std::filesystem::path methodFilePath();

// The method the method file names: the first of "firstSyncMethod1",
// "firstSyncMethod2", "firstSyncMethod3" followed by "=" and a non-zero
// number; Merge when none is, or when the file cannot be read (logged).
FirstSyncMethod readFirstSyncMethod(const ClientApp& app);

// The same decision over the file's text.
FirstSyncMethod parseFirstSyncMethod(const std::string& text);

// The downloaded text as it is parsed: every byte below 0x20 goes, line
// breaks and tabs included.
std::string withoutControlBytes(const std::string& text);

// The application's cache file; creates the data folder when missing.
std::filesystem::path cacheFilePath(const ClientApp& app);

}  // namespace corvex
