#include "platform/named_mutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/last_error.h"
#include "platform/prefix.h"
#include "platform/unique_fd.h"

// Files under prefix/run, for a mutex named N (encoded for the file system):
//   N.handle  every process with a handle open holds a shared flock on it; the
//             mutex exists exactly while someone holds one.
//   N.owner   the owning thread's process holds an exclusive flock on it.
//   .guard    an exclusive flock on it makes "create the handle and learn
//             whether the mutex existed" and "does it exist" atomic.
// The files stay when the mutex goes; only the locks say whether it exists.
// The kernel drops a process's flocks when it dies, which releases both its
// handles and its ownership.

namespace platform {
namespace {

// One per process and name, shared by all handles of the process: handles
// to one mutex in one process are one kernel object, so ownership is
// recursive across them and excludes the process's other threads.
struct Shared {
  std::string key;
  pid_t pid = 0;
  int refs = 0;
  int presenceFd = -1;
  int ownerFd = -1;
  bool named = true;

  std::mutex mutex;
  std::condition_variable released;
  std::thread::id owner;  // the owning (or acquiring) thread
  unsigned count = 0;     // recursion depth; 0 while the owner is still acquiring
};

std::mutex g_mutex;  // guards g_shared and every Shared's refs and fds
std::map<std::string, std::shared_ptr<Shared>>* g_shared = nullptr;
// Objects inherited over fork: never used nor destroyed in the child.
std::vector<std::shared_ptr<Shared>>* g_inherited = nullptr;

// A forked child must not keep the parent's locks alive: its copies of the
// descriptors share the parent's flocks. The child's inherited handles become
// invalid, as if they had been closed.
void forgetInheritedHandles() {
  if (g_shared) {
    if (!g_inherited) g_inherited = new std::vector<std::shared_ptr<Shared>>;
    for (auto& [key, shared] : *g_shared) {
      if (shared->presenceFd >= 0) ::close(shared->presenceFd);
      if (shared->ownerFd >= 0) ::close(shared->ownerFd);
      shared->presenceFd = -1;
      shared->ownerFd = -1;
      g_inherited->push_back(shared);
    }
    g_shared->clear();
  }
  g_mutex.unlock();
}

void installForkHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    pthread_atfork([] { g_mutex.lock(); }, [] { g_mutex.unlock(); }, forgetInheritedHandles);
  });
}

// Windows puts unprefixed names in the session namespace, "Local\".
std::string canonicalName(const std::string& name) {
  if (name.rfind("Local\\", 0) == 0) return name.substr(6);
  return name;
}

// Names keep their case (they compare case-sensitively); bytes outside a safe
// set are written as %XX. Very long names are cut and tagged with a hash.
std::string fileStem(const std::string& name) {
  std::string stem;
  for (unsigned char c : name) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '_' || c == '-' || c == '.';
    if (safe && !(c == '.' && stem.empty())) {
      stem.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      stem += hex;
    }
  }
  if (stem.size() > 200) {
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    char tag[20];
    std::snprintf(tag, sizeof tag, "~%016llx", static_cast<unsigned long long>(hash));
    stem = stem.substr(0, 180) + tag;
  }
  return stem;
}

int openLockFile(const std::filesystem::path& path, bool create) {
  int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int lockFile(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Holds the exclusive guard lock while it lives.
class Guard {
 public:
  explicit Guard(const std::filesystem::path& run)
      : fd_(openLockFile(run / ".guard", true)) {
    if (fd_.valid() && lockFile(fd_.get(), LOCK_EX) != 0) fd_.reset();
  }
  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};

// Under g_mutex: opens this process's presence of the mutex, reporting
// whether it existed; with owned, the new mutex is owned by the caller.
std::shared_ptr<Shared> attach(const std::string& key, bool initiallyOwned, bool* existed,
                               bool* owned) {
  *owned = false;
  if (!g_shared) g_shared = new std::map<std::string, std::shared_ptr<Shared>>;
  if (!key.empty()) {
    if (auto it = g_shared->find(key); it != g_shared->end()) {
      ++it->second->refs;
      *existed = true;
      return it->second;
    }
  }
  auto shared = std::make_shared<Shared>();
  shared->key = key;
  shared->pid = getpid();
  shared->refs = 1;
  *existed = false;
  if (key.empty()) {  // an unnamed mutex lives in this process only
    shared->named = false;
    return shared;
  }
  std::filesystem::path run = prefixDirectory("run");
  std::string stem = fileStem(key);
  Guard guard(run);
  if (!guard.held()) {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  UniqueFd presence(openLockFile(run / (stem + ".handle"), true));
  UniqueFd owner(openLockFile(run / (stem + ".owner"), true));
  if (!presence.valid() || !owner.valid()) {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  // No other holder lets the exclusive probe through. Turning it into the
  // shared lock is not atomic, but the guard keeps every other prober out.
  if (lockFile(presence.get(), LOCK_EX | LOCK_NB) == 0) {
    if (initiallyOwned && lockFile(owner.get(), LOCK_EX | LOCK_NB) == 0) *owned = true;
  } else if (errno == EWOULDBLOCK) {
    *existed = true;
  } else {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  if (lockFile(presence.get(), LOCK_SH) != 0) {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  shared->presenceFd = presence.release();
  shared->ownerFd = owner.release();
  (*g_shared)[key] = shared;
  return shared;
}

}  // namespace

struct NamedMutex::State {
  std::string name;
  std::shared_ptr<Shared> shared;
  bool existed = false;
};

NamedMutex::NamedMutex(const std::string& name, bool initiallyOwned)
    : state_(std::make_unique<State>()) {
  state_->name = name;
  installForkHandlers();
  bool owned = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    state_->shared = attach(canonicalName(name), initiallyOwned, &state_->existed, &owned);
  }
  if (owned) {
    std::lock_guard<std::mutex> lock(state_->shared->mutex);
    state_->shared->owner = std::this_thread::get_id();
    state_->shared->count = 1;
  } else if (initiallyOwned && state_->shared && !state_->shared->named) {
    lock();
  }
  if (state_->shared) setLastError(state_->existed ? kAlreadyExists : kOk);
}

NamedMutex::~NamedMutex() { close(); }

bool NamedMutex::valid() const {
  const Shared* shared = state_->shared.get();
  return shared && shared->pid == getpid() && (!shared->named || shared->presenceFd >= 0);
}

bool NamedMutex::alreadyExisted() const { return state_->existed; }

const std::string& NamedMutex::name() const { return state_->name; }

bool NamedMutex::lock() {
  if (!valid()) {
    setLastError(kInvalidHandle);
    return false;
  }
  Shared& shared = *state_->shared;
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(shared.mutex);
  if (shared.owner == self && shared.count > 0) {
    ++shared.count;
    return true;
  }
  shared.released.wait(lock, [&] { return shared.owner == std::thread::id(); });
  shared.owner = self;
  shared.count = 0;
  if (shared.named) {
    // Waits for the other processes without holding the in-process lock;
    // this process's other threads wait on the condition meanwhile.
    int fd = shared.ownerFd;
    lock.unlock();
    int rc = lockFile(fd, LOCK_EX);
    int err = errno;
    lock.lock();
    if (rc != 0) {
      shared.owner = std::thread::id();
      shared.released.notify_one();
      setLastErrorFromErrno(err);
      return false;
    }
  }
  shared.count = 1;
  return true;
}

bool NamedMutex::tryLock() {
  if (!valid()) {
    setLastError(kInvalidHandle);
    return false;
  }
  Shared& shared = *state_->shared;
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (shared.owner == self && shared.count > 0) {
    ++shared.count;
    return true;
  }
  if (shared.owner != std::thread::id()) {
    setLastError(kTimeout);
    return false;
  }
  if (shared.named && lockFile(shared.ownerFd, LOCK_EX | LOCK_NB) != 0) {
    setLastError(errno == EWOULDBLOCK ? kTimeout : setLastErrorFromErrno(errno));
    return false;
  }
  shared.owner = self;
  shared.count = 1;
  return true;
}

bool NamedMutex::unlock() {
  if (!valid()) {
    setLastError(kInvalidHandle);
    return false;
  }
  Shared& shared = *state_->shared;
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (shared.owner != std::this_thread::get_id() || shared.count == 0) {
    setLastError(kNotOwner);
    return false;
  }
  if (--shared.count == 0) {
    if (shared.named) lockFile(shared.ownerFd, LOCK_UN);
    shared.owner = std::thread::id();
    shared.released.notify_one();
  }
  return true;
}

void NamedMutex::close() {
  std::shared_ptr<Shared> shared = std::move(state_->shared);
  if (!shared || shared->pid != getpid()) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (--shared->refs > 0) return;
  // The last handle of the process: the mutex goes for this process, and
  // with it any ownership its threads still had.
  if (g_shared) {
    auto it = g_shared->find(shared->key);
    if (it != g_shared->end() && it->second == shared) g_shared->erase(it);
  }
  std::lock_guard<std::mutex> ownership(shared->mutex);
  if (shared->ownerFd >= 0) ::close(shared->ownerFd);
  if (shared->presenceFd >= 0) ::close(shared->presenceFd);
  shared->ownerFd = -1;
  shared->presenceFd = -1;
}

bool NamedMutex::exists(const std::string& name) {
  installForkHandlers();
  std::string key = canonicalName(name);
  if (key.empty()) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_shared && g_shared->count(key)) return true;
  std::filesystem::path run = prefixDirectory("run");
  UniqueFd presence(openLockFile(run / (fileStem(key) + ".handle"), false));
  if (!presence.valid()) return false;
  Guard guard(run);
  if (!guard.held()) return false;
  if (lockFile(presence.get(), LOCK_EX | LOCK_NB) == 0) {
    lockFile(presence.get(), LOCK_UN);
    return false;
  }
  return errno == EWOULDBLOCK;
}

}  // namespace platform
