// The registry: per-user (HKCU) and machine-wide (HKLM) hives, each a SQLite
// database under prefix/registry; HKCR is a view of HKLM\Software\Classes.
//
// Key paths are backslash-separated and relative to a root ("Software\Veltrane
// Inc.\Quorvane\Explorer"); key and value names compare case-insensitively
// (ASCII) and keep the case they were created with. The empty value name is
// the key's default value. Values are typed: REG_SZ is stored with its
// terminating zero, as the caller passes it; REG_DWORD is 4 bytes, little
// endian. Several processes may use a hive at once: every write is its own
// transaction (WAL, busy timeout, BEGIN IMMEDIATE, retried while busy).
//
// Functions return a Status (platform/errors.h): kOk, kFileNotFound for a
// missing key or value, kMoreData when a value does not fit the caller's
// buffer, kRegistryIo when the hive cannot be used.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/export.h"

namespace platform {

enum class RegRoot { CurrentUser, LocalMachine, ClassesRoot };

enum RegType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
};

struct RegValue {
  std::string name;
  uint32_t type = kRegNone;
  std::string data;  // the raw bytes, as stored
};

// An open key. Default-constructed keys are closed; moving transfers the key.
class PLATFORM_API RegKey {
 public:
  RegKey();
  ~RegKey();
  RegKey(RegKey&&) noexcept;
  RegKey& operator=(RegKey&&) noexcept;

  // Opens an existing key for reading and writing (RegOpenKeyEx).
  static Status open(RegRoot root, const std::string& path, RegKey* key);
  // Opens the key, creating it and its missing parents first (RegCreateKeyEx).
  static Status create(RegRoot root, const std::string& path, RegKey* key);

  bool isOpen() const;
  void close();

  // RegQueryValueEx: *size holds the buffer size on entry and the value's size
  // on return. data may be null to ask for the size only. A value larger than
  // the buffer gives kMoreData (and its size in *size). type may be null.
  Status queryValue(const std::string& name, uint32_t* type, void* data, uint32_t* size) const;
  // The whole value, whatever its size.
  Status readValue(const std::string& name, RegValue* value) const;
  Status setValue(const std::string& name, uint32_t type, const void* data, uint32_t size);
  // Sets several values in one transaction: a reader in any process sees
  // either none or all of them.
  Status setValues(const std::vector<RegValue>& values);
  Status setDword(const std::string& name, uint32_t value);
  // REG_SZ with its terminating zero.
  Status setString(const std::string& name, const std::string& value);
  Status deleteValue(const std::string& name);

  // Direct sub-key names and values, in the order they were created.
  Status subKeys(std::vector<std::string>* names) const;
  Status values(std::vector<RegValue>* values) const;

  // The key's path below its root, as it was opened.
  const std::string& path() const;
  RegRoot root() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Deletes the key with all its sub-keys and values (RegDeleteTree).
PLATFORM_API Status deleteRegistryTree(RegRoot root, const std::string& path);
// Deletes a key that has no sub-keys (RegDeleteKey); kAccessDenied otherwise.
PLATFORM_API Status deleteRegistryKey(RegRoot root, const std::string& path);

// "HKEY_CURRENT_USER\Software\X" or "HKCU\Software\X" -> root and path.
PLATFORM_API bool parseRegistryPath(const std::string& full, RegRoot* root, std::string* path);
PLATFORM_API const char* registryRootName(RegRoot root);  // "HKEY_CURRENT_USER", ...

}  // namespace platform
