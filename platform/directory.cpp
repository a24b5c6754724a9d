#include "platform/directory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "platform/errors.h"
#include "platform/fault_points.h"
#include "platform/last_error.h"

namespace platform {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool matchFrom(const std::string& pattern, size_t p, const std::string& name, size_t n) {
  // Iterative match with one backtrack point for the last "*" seen.
  size_t starP = std::string::npos;
  size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || asciiLower(pattern[p]) == asciiLower(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Fills the attributes of one entry without following a link for the
// directory attribute of the link itself.
// Size and write time only when asked for: a file search does without them.
void classify(const std::filesystem::path& dir, const dirent* ent, bool withTimes, DirectoryEntry* entry) {
  unsigned char type = ent->d_type;
  std::string full = (dir / ent->d_name).string();
  struct stat st;
  if ((withTimes || type == DT_UNKNOWN) && lstat(full.c_str(), &st) == 0) {
    entry->size = static_cast<uint64_t>(st.st_size);
    entry->writeTime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (type == DT_UNKNOWN) {
      if (S_ISDIR(st.st_mode))
        type = DT_DIR;
      else if (S_ISLNK(st.st_mode))
        type = DT_LNK;
      else if (S_ISREG(st.st_mode))
        type = DT_REG;
      else
        type = DT_FIFO;  // some special file
    }
  }
  switch (type) {
    case DT_DIR:
      entry->directory = true;
      break;
    case DT_REG:
      break;
    case DT_LNK:
      entry->symbolicLink = true;
      if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        entry->directory = true;
      } else if (stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        entry->special = true;
      }
      break;
    default:
      entry->special = true;
      break;
  }
}

bool listEntries(const std::filesystem::path& dir, bool withTimes, std::vector<DirectoryEntry>* entries) {
  DirHandle handle(opendir(dir.c_str()));
  if (!handle) {
    // A search in a missing folder reports the path, not a file, as missing.
    if (errno == ENOENT) {
      setLastError(kPathNotFound);
    } else {
      setLastErrorFromErrno(errno);
    }
    return false;
  }
  std::vector<DirectoryEntry> result;
  for (;;) {
    errno = 0;
    const dirent* ent = readdir(handle.get());
    if (!ent) {
      if (errno != 0) {
        setLastErrorFromErrno(errno);
        return false;
      }
      break;
    }
    DirectoryEntry entry;
    entry.name = ent->d_name;
    classify(dir, ent, withTimes, &entry);
    result.push_back(std::move(entry));
  }
  *entries = std::move(result);
  return true;
}

}  // namespace

bool listDirectory(const std::filesystem::path& dir, std::vector<DirectoryEntry>* entries) {
  if (Status status = injectedFault(FaultSite::FileRead, dir.string()); status != kOk) {
    setLastError(status);
    return false;
  }
  return listEntries(dir, true, entries);
}

bool wildcardMatch(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*") return true;
  return matchFrom(pattern, 0, name, 0);
}

bool findMatches(const std::filesystem::path& pattern, std::vector<DirectoryEntry>* matches) {
  std::filesystem::path folder = pattern.parent_path();
  if (folder.empty()) folder = ".";
  const std::string last = pattern.filename().string();
  std::vector<DirectoryEntry> entries;
  if (!listEntries(folder, false, &entries)) return false;
  std::vector<DirectoryEntry> found;
  for (DirectoryEntry& entry : entries) {
    const std::string name = entry.name.string();
    if (name == "." || name == "..") continue;
    if (wildcardMatch(last, name)) found.push_back(std::move(entry));
  }
  if (found.empty()) {
    setLastError(kFileNotFound);
    return false;
  }
  if (matches) *matches = std::move(found);
  return true;
}

std::u16string shortName(const std::filesystem::path&) { return std::u16string(); }

}  // namespace platform
