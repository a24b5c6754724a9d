// Files and directories. Every function that fails sets the calling thread's
// last error (platform/last_error.h) and returns false; out-parameters are
// left unchanged on failure.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/export.h"

namespace platform {

// The whole file into *data.
PLATFORM_API bool readWholeFile(const std::filesystem::path& path, std::string* data);
// Creates or truncates the file and writes all bytes in one write; the mode
// applies when the file is created.
PLATFORM_API bool writeWholeFile(const std::filesystem::path& path, const std::string& data,
                                 unsigned mode = 0644);
// writeWholeFile in the two steps that can fail apart: the file could not be
// created (or truncated), or it was and its bytes could not be written. An
// injected disk-full fault fails the second step, as a full disk does; any
// other the first.
enum class FileWriteResult { Written, NotCreated, NotWritten };
PLATFORM_API FileWriteResult createAndWriteFile(const std::filesystem::path& path, const std::string& data,
                                                unsigned mode = 0644);
// Replaces the file as a whole or not at all, for files whose loss or
// truncation costs more than a failed write: the bytes go to a new file in
// the same folder (the final name followed by ".tmp-<pid>-<n>"), which is
// flushed to the disk, closed and renamed over the path; then the folder is
// flushed. On every failure the temporary file is removed and a file already
// at the path stays as it was. The new file gets the mode (less the umask),
// whatever the old one had. Injected file-write faults match the final path:
// a disk-full one fails once the temporary file exists, as a full disk does,
// any other before anything is created. A process killed in the middle
// leaves the old file whole and may leave its temporary file behind.
PLATFORM_API bool replaceFileContents(const std::filesystem::path& path, const std::string& data,
                                      unsigned mode = 0644);
// Appends to the file, creating it when missing.
PLATFORM_API bool appendToFile(const std::filesystem::path& path, const std::string& data);
PLATFORM_API bool fileSize(const std::filesystem::path& path, uint64_t* size);

// True when a file (not a directory) exists at the path.
PLATFORM_API bool fileExists(const std::filesystem::path& path);
PLATFORM_API bool directoryExists(const std::filesystem::path& path);

// Creates one directory, as CreateDirectory does: fails with kAlreadyExists
// when something exists there and with kPathNotFound when the parent is missing.
PLATFORM_API bool makeDirectory(const std::filesystem::path& path, unsigned mode = 0755);
// Creates the directory and its missing parents; true when it exists afterwards.
PLATFORM_API bool ensureDirectory(const std::filesystem::path& path, unsigned mode = 0755);
PLATFORM_API bool removeFile(const std::filesystem::path& path);

// A new empty file in the temporary folder, named from the prefix text.
PLATFORM_API bool createTempFile(const std::string& namePrefix, std::filesystem::path* path);

// The full path of the shared library or executable that contains the given
// address (dladdr); pass the address of a function of the calling module.
PLATFORM_API std::filesystem::path modulePath(const void* addressInModule);

}  // namespace platform
