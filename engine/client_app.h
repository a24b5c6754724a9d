// ClientApp: the settings and state of one calling application in this
// process, and the process-wide table of them.
//
// A ClientApp is itself the lock around the shared registry copy of its
// settings: it derives from the named mutex "Corvex_CliEntApp_RegisTry",
// whose name is the same for every application and process, so every
// ClientApp on the machine shares one mutex. It is held (unbounded wait) for
// each whole read or write of the registry copy and of the instance counter.
//
// Nothing here is guarded against two threads of one process: the engine is
// called from one user-interface thread at a time.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include "platform/named_mutex.h"

namespace corvex {

inline constexpr char kClientAppMutexName[] = "Corvex_CliEntApp_RegisTry";
inline constexpr char kRegistryKeyBase[] = "Software\\Veltrane Inc.\\Quorvane\\";
// The reference service run locally.
inline constexpr char kDefaultServer[] = "localhost/data";

class ClientApp : public platform::NamedMutex {
 public:
  // The mutex (opened, not owned) and the defaults; reads nothing.
  explicit ClientApp(const std::string& name);
  // Writes the settings file with the in-memory values.
  ~ClientApp();

  // Creation as the table does it: the defaults, then the settings file (whose
  // values are at once copied to the registry) or, when there is no readable
  // file, the registry copy; then a logged validation.
  static boost::shared_ptr<ClientApp> create(const std::string& name);

  // The fields, in the order of the settings file.
  int32_t enabled = 1;
  std::string appName;
  std::string server = kDefaultServer;
  uint32_t serverPort = 80;
  std::string username = "username";
  std::string password;
  int32_t syncAuto = 1;
  uint32_t syncPeriod = 15;
  int32_t syncAfterStart = 0;
  int32_t syncBeforeExit = 1;
  int32_t proxyAuth = 0;
  std::string proxyUsername = "username";
  std::string proxyPassword;
  int32_t errorIcon = 1;
  std::time_t lastSyncTime = 0;  // last known server state; 0 means none
  std::string registryKeyPath;

  // "bookmarks_" + appName + ".cfg" as a file name, converted from the ANSI
  // code page once, at construction: the destructor runs at engine unload,
  // possibly during process exit, and needs no code page conversion then.
  const std::filesystem::path& settingsFileName() const { return settingsFileName_; }

 private:
  std::filesystem::path settingsFileName_;
};

// Holds the ClientApp mutex for one registry access; locked() is false when
// the wait failed, and the access must then be skipped.
class ClientAppLock {
 public:
  explicit ClientAppLock(ClientApp& app) : app_(app), locked_(app.lock()) {}
  ~ClientAppLock() {
    if (locked_) app_.unlock();
  }
  ClientAppLock(const ClientAppLock&) = delete;
  ClientAppLock& operator=(const ClientAppLock&) = delete;
  bool locked() const { return locked_; }

 private:
  ClientApp& app_;
  bool locked_;
};

// Ordered by plain byte comparison of the names.
using ClientAppRegistry = std::map<std::string, boost::shared_ptr<ClientApp>>;

// The process-wide table. It is never destroyed by itself: engine unload
// empties it (destroyClientApps), which writes every settings file while the
// platform layer is still usable.
ClientAppRegistry& clientAppRegistry();

// The ClientApp of the name, created on first use; valid until unload.
ClientApp* getClientApp(const std::string& name);

// Engine unload: destroys every ClientApp in name order.
void destroyClientApps();

// The instance counter "inscount" in the application's registry key. A read
// that fails (no key, no value, no lock) gives 0; a failed write is ignored.
uint32_t readInstanceCount(ClientApp& app);
void writeInstanceCount(ClientApp& app, uint32_t count);

// The register callback handed over with SetRegisterFunc (null at first).
using RegisterFunc = void (*)();
void setRegisterFunc(RegisterFunc func);
RegisterFunc registerFunc();

}  // namespace corvex
