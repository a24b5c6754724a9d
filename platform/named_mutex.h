// Named mutexes shared by every process of the machine (of the prefix).
//
// A named mutex exists while any handle to it is open in any process; it
// disappears when the last handle is closed or its process dies. Creating a
// handle reports whether the mutex existed already. A handle can also be used
// as a lock: ownership belongs to a thread and is recursive, as with a Win32
// mutex. On Linux a handle is a lock file under prefix/run, held with a shared
// flock for presence; ownership takes an exclusive flock on a second lock file
// and an in-process recursive lock that records the owning thread. Lock files
// are opened with O_CLOEXEC, so child processes never inherit them.
#pragma once

#include <memory>
#include <string>

#include "platform/export.h"

namespace platform {

class PLATFORM_API NamedMutex {
 public:
  // Creates or opens the mutex. With initiallyOwned, the calling thread owns it
  // when it was created by this call (as CreateMutex does).
  explicit NamedMutex(const std::string& name, bool initiallyOwned = false);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // The handle could be created (lock file opened).
  bool valid() const;
  // The mutex existed before this handle was created (ERROR_ALREADY_EXISTS).
  bool alreadyExisted() const;
  const std::string& name() const;

  // Waits without bound until the calling thread owns the mutex; recursive.
  // False when the handle is not valid or the wait failed.
  bool lock();
  // Owns the mutex only when that is possible at once.
  bool tryLock();
  // Releases one level of ownership; false when the thread is not the owner.
  bool unlock();

  // Closes the handle early (the destructor does it otherwise).
  void close();

  // True when a mutex of that name exists anywhere (any handle open).
  static bool exists(const std::string& name);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
