#include "platform/registry.h"

#include <cstring>
#include <utility>

#include "platform/registry_hive.h"

namespace platform {

using registry_hive::Hive;
using registry_hive::Statement;

namespace {

// Where a root's keys live: HKCR is HKLM\Software\Classes.
struct Location {
  Hive hive;
  std::vector<std::string> names;  // from the hive's root
  size_t viewDepth;                // how many of names belong to the root itself
};

Status locate(RegRoot root, const std::string& path, Location* location) {
  std::vector<std::string> names;
  if (!registry_hive::splitPath(path, &names)) return kBadPathname;
  switch (root) {
    case RegRoot::CurrentUser: *location = {Hive::CurrentUser, {}, 0}; break;
    case RegRoot::LocalMachine: *location = {Hive::LocalMachine, {}, 0}; break;
    case RegRoot::ClassesRoot: *location = {Hive::LocalMachine, {"Software", "Classes"}, 2}; break;
    default: return kInvalidParameter;
  }
  location->names.insert(location->names.end(), names.begin(), names.end());
  return kOk;
}

Status stepDone(Statement& statement) {
  int rc = statement.step();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? kOk : registry_hive::statusFromSqlite(rc);
}

Status storeValue(sqlite3* db, int64_t key, const std::string& name, uint32_t type,
                  const std::string& data) {
  // An existing value keeps its place in the enumeration order and the case
  // of its name.
  Statement upsert(db,
                   "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
                   " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
  upsert.bind(1, key).bindText(2, name).bind(3, type).bindBlob(4, data);
  return stepDone(upsert);
}

// The ids of the key and all keys below it, as a recursive query's prefix.
constexpr const char* kSubtree =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) ";

}  // namespace

struct RegKey::Impl {
  RegRoot root;
  std::string path;
  Hive hive;
  int64_t id;
};

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey&&) noexcept = default;
RegKey& RegKey::operator=(RegKey&&) noexcept = default;

Status RegKey::open(RegRoot root, const std::string& path, RegKey* key) {
  Location location;
  if (Status s = locate(root, path, &location); s != kOk) return s;
  int64_t id = 0;
  Status status = registry_hive::runTransaction(location.hive, false, [&](sqlite3* db) {
    return registry_hive::findKey(db, 0, location.names, false, &id);
  });
  // The root of the HKCR view always exists, as a root key does.
  if (status == kFileNotFound && location.names.size() == location.viewDepth) {
    return create(root, path, key);
  }
  if (status != kOk) return status;
  key->impl_ = std::make_unique<Impl>(Impl{root, path, location.hive, id});
  return kOk;
}

Status RegKey::create(RegRoot root, const std::string& path, RegKey* key) {
  Location location;
  if (Status s = locate(root, path, &location); s != kOk) return s;
  int64_t id = 0;
  Status status = registry_hive::runTransaction(location.hive, true, [&](sqlite3* db) {
    return registry_hive::findKey(db, 0, location.names, true, &id);
  });
  if (status != kOk) return status;
  key->impl_ = std::make_unique<Impl>(Impl{root, path, location.hive, id});
  return kOk;
}

bool RegKey::isOpen() const { return impl_ != nullptr; }

void RegKey::close() { impl_.reset(); }

const std::string& RegKey::path() const {
  static const std::string kNone;
  return impl_ ? impl_->path : kNone;
}

RegRoot RegKey::root() const { return impl_ ? impl_->root : RegRoot::CurrentUser; }

Status RegKey::readValue(const std::string& name, RegValue* value) const {
  if (!impl_) return kInvalidHandle;
  RegValue found;
  Status status = registry_hive::runTransaction(impl_->hive, false, [&](sqlite3* db) {
    if (Status s = registry_hive::checkKeyAlive(db, impl_->id); s != kOk) return s;
    Statement select(db, "SELECT name, type, data FROM vals WHERE key = ?1 AND name = ?2");
    int rc = select.bind(1, impl_->id).bindText(2, name).step();
    if (rc == SQLITE_DONE) return kFileNotFound;
    if (rc != SQLITE_ROW) return registry_hive::statusFromSqlite(rc);
    found.name = select.columnText(0);
    found.type = static_cast<uint32_t>(select.columnInt(1));
    found.data = select.columnBlob(2);
    return kOk;
  });
  if (status == kOk) *value = std::move(found);
  return status;
}

Status RegKey::queryValue(const std::string& name, uint32_t* type, void* data,
                          uint32_t* size) const {
  if (!impl_) return kInvalidHandle;
  if (data && !size) return kInvalidParameter;
  RegValue value;
  if (Status s = readValue(name, &value); s != kOk) return s;
  if (type) *type = value.type;
  if (!size) return kOk;
  uint32_t needed = static_cast<uint32_t>(value.data.size());
  uint32_t available = *size;
  *size = needed;
  if (!data) return kOk;
  if (available < needed) return kMoreData;
  if (needed > 0) std::memcpy(data, value.data.data(), needed);
  return kOk;
}

Status RegKey::setValue(const std::string& name, uint32_t type, const void* data, uint32_t size) {
  if (!impl_) return kInvalidHandle;
  if (!data && size > 0) return kInvalidParameter;
  // Value names are at most 16383 characters.
  if (name.size() > 16383) return kInvalidParameter;
  std::string bytes = size > 0 ? std::string(static_cast<const char*>(data), size) : std::string();
  return registry_hive::runTransaction(impl_->hive, true, [&](sqlite3* db) {
    if (Status s = registry_hive::checkKeyAlive(db, impl_->id); s != kOk) return s;
    return storeValue(db, impl_->id, name, type, bytes);
  });
}

Status RegKey::setValues(const std::vector<RegValue>& values) {
  if (!impl_) return kInvalidHandle;
  for (const RegValue& value : values) {
    if (value.name.size() > 16383) return kInvalidParameter;
  }
  return registry_hive::runTransaction(impl_->hive, true, [&](sqlite3* db) {
    if (Status s = registry_hive::checkKeyAlive(db, impl_->id); s != kOk) return s;
    for (const RegValue& value : values) {
      if (Status s = storeValue(db, impl_->id, value.name, value.type, value.data); s != kOk) {
        return s;
      }
    }
    return kOk;
  });
}

Status RegKey::setDword(const std::string& name, uint32_t value) {
  unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                            static_cast<unsigned char>(value >> 16),
                            static_cast<unsigned char>(value >> 24)};
  return setValue(name, kRegDword, bytes, sizeof bytes);
}

Status RegKey::setString(const std::string& name, const std::string& value) {
  std::string bytes = value;
  bytes.push_back('\0');
  return setValue(name, kRegSz, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

Status RegKey::deleteValue(const std::string& name) {
  if (!impl_) return kInvalidHandle;
  return registry_hive::runTransaction(impl_->hive, true, [&](sqlite3* db) {
    if (Status s = registry_hive::checkKeyAlive(db, impl_->id); s != kOk) return s;
    Statement remove(db, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
    remove.bind(1, impl_->id).bindText(2, name);
    if (Status s = stepDone(remove); s != kOk) return s;
    return sqlite3_changes(db) > 0 ? kOk : kFileNotFound;
  });
}

Status RegKey::subKeys(std::vector<std::string>* names) const {
  if (!impl_) return kInvalidHandle;
  std::vector<std::string> found;
  Status status = registry_hive::runTransaction(impl_->hive, false, [&](sqlite3* db) {
    found.clear();
    if (Status s = registry_hive::checkKeyAlive(db, impl_->id); s != kOk) return s;
    Statement select(db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY id");
    select.bind(1, impl_->id);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) found.push_back(select.columnText(0));
    return rc == SQLITE_DONE ? kOk : registry_hive::statusFromSqlite(rc);
  });
  if (status == kOk) *names = std::move(found);
  return status;
}

Status RegKey::values(std::vector<RegValue>* values) const {
  if (!impl_) return kInvalidHandle;
  std::vector<RegValue> found;
  Status status = registry_hive::runTransaction(impl_->hive, false, [&](sqlite3* db) {
    found.clear();
    if (Status s = registry_hive::checkKeyAlive(db, impl_->id); s != kOk) return s;
    Statement select(db, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY seq");
    select.bind(1, impl_->id);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
      found.push_back(RegValue{select.columnText(0), static_cast<uint32_t>(select.columnInt(1)),
                               select.columnBlob(2)});
    }
    return rc == SQLITE_DONE ? kOk : registry_hive::statusFromSqlite(rc);
  });
  if (status == kOk) *values = std::move(found);
  return status;
}

Status deleteRegistryTree(RegRoot root, const std::string& path) {
  Location location;
  if (Status s = locate(root, path, &location); s != kOk) return s;
  // With no sub-key named, the root's contents go and the root stays, as
  // RegDeleteTree does with a null sub-key.
  bool keepTop = location.names.size() == location.viewDepth;
  return registry_hive::runTransaction(location.hive, true, [&](sqlite3* db) {
    int64_t id = 0;
    Status found = registry_hive::findKey(db, 0, location.names, false, &id);
    if (found == kFileNotFound && keepTop) return kOk;
    if (found != kOk) return found;
    std::string values = std::string(kSubtree) + "DELETE FROM vals WHERE key IN sub";
    Statement removeValues(db, values.c_str());
    removeValues.bind(1, id);
    if (Status s = stepDone(removeValues); s != kOk) return s;
    std::string keys = std::string(kSubtree) + "DELETE FROM keys WHERE id IN sub AND id <> ?2";
    Statement removeKeys(db, keys.c_str());
    removeKeys.bind(1, id).bind(2, keepTop ? id : -1);
    return stepDone(removeKeys);
  });
}

Status deleteRegistryKey(RegRoot root, const std::string& path) {
  Location location;
  if (Status s = locate(root, path, &location); s != kOk) return s;
  if (location.names.size() == location.viewDepth) return kAccessDenied;
  return registry_hive::runTransaction(location.hive, true, [&](sqlite3* db) {
    int64_t id = 0;
    if (Status s = registry_hive::findKey(db, 0, location.names, false, &id); s != kOk) return s;
    Statement children(db, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    int rc = children.bind(1, id).step();
    if (rc == SQLITE_ROW) return kAccessDenied;
    if (rc != SQLITE_DONE) return registry_hive::statusFromSqlite(rc);
    Statement removeValues(db, "DELETE FROM vals WHERE key = ?1");
    removeValues.bind(1, id);
    if (Status s = stepDone(removeValues); s != kOk) return s;
    Statement removeKey(db, "DELETE FROM keys WHERE id = ?1");
    removeKey.bind(1, id);
    return stepDone(removeKey);
  });
}

namespace {

bool equalsIgnoreCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool parseRegistryPath(const std::string& full, RegRoot* root, std::string* path) {
  size_t slash = full.find('\\');
  std::string head = full.substr(0, slash);
  RegRoot found;
  if (equalsIgnoreCase(head, "HKEY_CURRENT_USER") || equalsIgnoreCase(head, "HKCU")) {
    found = RegRoot::CurrentUser;
  } else if (equalsIgnoreCase(head, "HKEY_LOCAL_MACHINE") || equalsIgnoreCase(head, "HKLM")) {
    found = RegRoot::LocalMachine;
  } else if (equalsIgnoreCase(head, "HKEY_CLASSES_ROOT") || equalsIgnoreCase(head, "HKCR")) {
    found = RegRoot::ClassesRoot;
  } else {
    return false;
  }
  std::string rest = slash == std::string::npos ? std::string() : full.substr(slash + 1);
  if (!rest.empty() && rest.back() == '\\') rest.pop_back();
  *root = found;
  *path = std::move(rest);
  return true;
}

const char* registryRootName(RegRoot root) {
  switch (root) {
    case RegRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case RegRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
  }
  return "";
}

}  // namespace platform
