#include "platform/files.h"

#include <dlfcn.h>
#include <link.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/fault_points.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

bool fail() {
  setLastErrorFromErrno(errno);
  return false;
}

// As fail(), for a call on a path: a missing folder on the way is "path not
// found" (3), a missing last component "file not found" (2), as CreateFile
// tells them apart.
bool failOn(const std::filesystem::path& path) {
  int err = errno;
  if (err == ENOENT && path.has_parent_path()) {
    struct stat st;
    if (::stat(path.parent_path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      setLastError(kPathNotFound);
      return false;
    }
  }
  setLastErrorFromErrno(err);
  return false;
}

// True (with the last error set) when an injected fault fails the call.
bool faulted(FaultSite site, const std::filesystem::path& path) {
  Status status = injectedFault(site, path.string());
  if (status == kOk) return false;
  setLastError(status);
  return true;
}

bool writeAll(int fd, const std::string& data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

bool writeFile(const std::filesystem::path& path, const std::string& data, int flags,
               unsigned mode) {
  if (faulted(FaultSite::FileWrite, path)) return false;
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, mode));
  if (!fd.valid()) return failOn(path);
  if (!writeAll(fd.get(), data)) return fail();
  // A full disk may show only when the data reaches it.
  if (::close(fd.release()) != 0) return fail();
  return true;
}

bool statPath(const std::filesystem::path& path, struct stat* st) {
  return ::stat(path.c_str(), st) == 0;
}

}  // namespace

bool readWholeFile(const std::filesystem::path& path, std::string* data) {
  if (faulted(FaultSite::FileRead, path)) return false;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return failOn(path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return fail();
  if (S_ISDIR(st.st_mode)) {
    setLastError(kAccessDenied);
    return false;
  }
  std::string content;
  if (st.st_size > 0) content.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail();
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  *data = std::move(content);
  return true;
}

bool writeWholeFile(const std::filesystem::path& path, const std::string& data, unsigned mode) {
  return writeFile(path, data, O_TRUNC, mode);
}

FileWriteResult createAndWriteFile(const std::filesystem::path& path, const std::string& data, unsigned mode) {
  const Status fault = injectedFault(FaultSite::FileWrite, path.string());
  if (fault != kOk && fault != kDiskFull) {
    setLastError(fault);
    return FileWriteResult::NotCreated;
  }
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (!fd.valid()) {
    failOn(path);
    return FileWriteResult::NotCreated;
  }
  if (fault == kDiskFull) {
    setLastError(fault);
    return FileWriteResult::NotWritten;
  }
  if (!writeAll(fd.get(), data) || ::close(fd.release()) != 0) {
    fail();
    return FileWriteResult::NotWritten;
  }
  return FileWriteResult::Written;
}

bool replaceFileContents(const std::filesystem::path& path, const std::string& data, unsigned mode) {
  const Status fault = injectedFault(FaultSite::FileWrite, path.string());
  if (fault != kOk && fault != kDiskFull) {
    setLastError(fault);
    return false;
  }
  // A name of this process and call: O_EXCL never takes over another's
  // file; one left by a killed process of the same pid is stepped over.
  static std::atomic<unsigned> counter{0};
  const std::string stem = path.string() + ".tmp-" + std::to_string(::getpid()) + "-";
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    temp = stem + std::to_string(counter++);
    fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!fd.valid() && errno != EEXIST) break;
  }
  if (!fd.valid()) return failOn(path);

  // From here every failure removes the temporary file and keeps the error
  // of the step that failed.
  auto abandon = [&](int err) {
    fd.reset();
    ::unlink(temp.c_str());
    if (err) setLastErrorFromErrno(err);
    return false;
  };
  if (fault == kDiskFull) {
    abandon(0);
    setLastError(kDiskFull);
    return false;
  }
  if (!writeAll(fd.get(), data)) return abandon(errno);
  if (::fsync(fd.get()) != 0) return abandon(errno);
  if (::close(fd.release()) != 0) return abandon(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) return abandon(errno);

  // The rename itself reaches the disk with the folder. The new contents are
  // whole whether or not this succeeds, so its failure is not the caller's.
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
  return true;
}

bool appendToFile(const std::filesystem::path& path, const std::string& data) {
  return writeFile(path, data, O_APPEND, 0644);
}

bool fileSize(const std::filesystem::path& path, uint64_t* size) {
  if (faulted(FaultSite::FileRead, path)) return false;
  struct stat st;
  if (!statPath(path, &st)) return failOn(path);
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool fileExists(const std::filesystem::path& path) {
  struct stat st;
  return statPath(path, &st) && !S_ISDIR(st.st_mode);
}

bool directoryExists(const std::filesystem::path& path) {
  struct stat st;
  return statPath(path, &st) && S_ISDIR(st.st_mode);
}

bool makeDirectory(const std::filesystem::path& path, unsigned mode) {
  if (faulted(FaultSite::FileWrite, path)) return false;
  if (::mkdir(path.c_str(), mode) == 0) return true;
  switch (errno) {
    case EEXIST: setLastError(kAlreadyExists); break;
    case ENOENT: setLastError(kPathNotFound); break;
    default: setLastErrorFromErrno(errno); break;
  }
  return false;
}

bool ensureDirectory(const std::filesystem::path& path, unsigned mode) {
  if (faulted(FaultSite::FileWrite, path)) return false;
  if (directoryExists(path)) return true;
  if (path.has_relative_path() && path.has_parent_path() && path.parent_path() != path) {
    std::filesystem::path parent = path.parent_path();
    if (!parent.empty() && !directoryExists(parent) && !ensureDirectory(parent, mode)) return false;
  }
  if (::mkdir(path.c_str(), mode) == 0) return true;
  // Another process may have made it meanwhile.
  if (errno == EEXIST && directoryExists(path)) return true;
  if (errno == EEXIST) {
    setLastError(kAlreadyExists);
    return false;
  }
  return fail();
}

bool removeFile(const std::filesystem::path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    setLastError(kAccessDenied);
    return false;
  }
  if (::unlink(path.c_str()) != 0) return failOn(path);
  return true;
}

bool createTempFile(const std::string& namePrefix, std::filesystem::path* path) {
  std::filesystem::path folder = specialFolder(SpecialFolder::Temp);
  if (folder.empty()) return false;
  std::string name = (folder / (namePrefix + "XXXXXX.tmp")).string();
  if (faulted(FaultSite::FileWrite, name)) return false;
  UniqueFd fd(::mkostemps(name.data(), 4, O_CLOEXEC));
  if (!fd.valid()) return fail();
  *path = name;
  return true;
}

std::filesystem::path modulePath(const void* addressInModule) {
  Dl_info info{};
  link_map* map = nullptr;
  if (::dladdr1(addressInModule, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
      !map) {
    setLastError(kInvalidParameter);
    return {};
  }
  // The main program has an empty name in the link map.
  if (!map->l_name || !*map->l_name) {
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
      fail();
      return {};
    }
    return std::filesystem::path(std::string(self, static_cast<size_t>(n)));
  }
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(map->l_name, ec);
  return ec ? std::filesystem::path(map->l_name) : absolute.lexically_normal();
}

}  // namespace platform
