// Reading a whole file while telling an open failure from a read failure,
// as the Favorites store's messages do ("Error while opening file: " and
// "Error while reading file: ").
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace favorites {

enum class FileRead { Ok, OpenFailed, ReadFailed };

// The whole file into *bytes. Files longer than maxSize (when given) are
// not read: *tooLarge is set and the result is Ok with *bytes untouched.
FileRead readFileBytes(const std::filesystem::path& path, std::string* bytes,
                       uint64_t maxSize = UINT64_MAX, bool* tooLarge = nullptr);

}  // namespace favorites
