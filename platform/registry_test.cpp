#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

std::string dwordBytes(uint32_t v) {
  return std::string({static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                      static_cast<char>(v >> 24)});
}

TEST(Registry, CreateSetAndQueryTypedValues) {
  testsupport::TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\Veltrane Inc.\\Quorvane\\Explorer", &key),
            kOk);
  EXPECT_TRUE(key.isOpen());
  ASSERT_EQ(key.setString("server", "example.org/data"), kOk);
  ASSERT_EQ(key.setDword("server_port", 8080), kOk);
  ASSERT_EQ(key.setValue("order", kRegBinary, "\x01\x00\xFF", 3), kOk);
  ASSERT_EQ(key.setString("", "default"), kOk);

  RegValue value;
  ASSERT_EQ(key.readValue("server", &value), kOk);
  EXPECT_EQ(value.type, kRegSz);
  EXPECT_EQ(value.data, std::string("example.org/data\0", 17));
  ASSERT_EQ(key.readValue("server_port", &value), kOk);
  EXPECT_EQ(value.type, kRegDword);
  EXPECT_EQ(value.data, dwordBytes(8080));
  ASSERT_EQ(key.readValue("order", &value), kOk);
  EXPECT_EQ(value.data, std::string("\x01\x00\xFF", 3));
  ASSERT_EQ(key.readValue("", &value), kOk);
  EXPECT_EQ(value.data, std::string("default\0", 8));

  // Another handle to the same key, opened in other case, sees the same values.
  RegKey again;
  ASSERT_EQ(RegKey::open(RegRoot::CurrentUser, "SOFTWARE\\veltrane inc.\\QUORVANE\\explorer", &again),
            kOk);
  EXPECT_EQ(again.path(), "SOFTWARE\\veltrane inc.\\QUORVANE\\explorer");
  ASSERT_EQ(again.readValue("SERVER_PORT", &value), kOk);
  EXPECT_EQ(value.name, "server_port");
  EXPECT_TRUE(std::filesystem::exists(prefix.path() / "registry" / "HKCU.db"));
}

TEST(Registry, QueryValueWithTheCallersBuffer) {
  testsupport::TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\Q", &key), kOk);
  ASSERT_EQ(key.setString("name", "abcd"), kOk);  // 5 bytes with the zero
  ASSERT_EQ(key.setDword("inscount", 7), kOk);

  struct Row {
    uint32_t bufferSize;
    Status status;
  } rows[] = {{0, kMoreData}, {4, kMoreData}, {5, kOk}, {64, kOk}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bufferSize);
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    uint32_t type = 0;
    uint32_t size = row.bufferSize;
    EXPECT_EQ(key.queryValue("name", &type, buffer, &size), row.status);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(type, kRegSz);
    if (row.status == kOk) {
      EXPECT_EQ(std::string(buffer, 5), std::string("abcd\0", 5));
    }
    if (row.bufferSize < 64) {
      EXPECT_EQ(buffer[row.bufferSize], 'x');  // nothing written beyond the buffer
    }
  }
  uint32_t size = 0;
  EXPECT_EQ(key.queryValue("name", nullptr, nullptr, &size), kOk);  // size only
  EXPECT_EQ(size, 5u);
  uint32_t count = 0;
  size = sizeof count;
  EXPECT_EQ(key.queryValue("inscount", nullptr, &count, &size), kOk);
  EXPECT_EQ(count, 7u);
  size = 99;
  EXPECT_EQ(key.queryValue("missing", nullptr, &count, &size), kFileNotFound);
  EXPECT_EQ(key.queryValue("name", nullptr, &count, nullptr), kInvalidParameter);
  RegKey closed;
  EXPECT_EQ(closed.queryValue("name", nullptr, nullptr, &size), kInvalidHandle);
}

TEST(Registry, OpenFindsOnlyExistingKeysAndRejectsBadPaths) {
  testsupport::TempPrefix prefix;
  RegKey key;
  EXPECT_EQ(RegKey::open(RegRoot::CurrentUser, "Software\\Missing", &key), kFileNotFound);
  EXPECT_FALSE(key.isOpen());
  for (const char* bad : {"\\Software", "Software\\\\X", "\\"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(RegKey::create(RegRoot::CurrentUser, bad, &key), kBadPathname);
  }
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\Trailing\\", &key), kOk);
  EXPECT_EQ(RegKey::open(RegRoot::CurrentUser, "Software\\Trailing", &key), kOk);
  // The hives are separate.
  EXPECT_EQ(RegKey::open(RegRoot::LocalMachine, "Software\\Trailing", &key), kFileNotFound);
}

TEST(Registry, EnumerationKeepsCreationOrderAndCase) {
  testsupport::TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\E", &key), kOk);
  for (const char* name : {"Zeta", "alpha", "Mid"}) {
    RegKey sub;
    ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, std::string("Software\\E\\") + name, &sub), kOk);
    ASSERT_EQ(key.setDword(name, 1), kOk);
  }
  RegKey sub;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\E\\ZETA", &sub), kOk);  // opens Zeta
  ASSERT_EQ(key.setDword("ALPHA", 2), kOk);  // replaces alpha in place
  std::vector<std::string> names;
  ASSERT_EQ(key.subKeys(&names), kOk);
  EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  std::vector<RegValue> values;
  ASSERT_EQ(key.values(&values), kOk);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].name, "Zeta");
  EXPECT_EQ(values[1].name, "alpha");
  EXPECT_EQ(values[1].data, dwordBytes(2));
  EXPECT_EQ(values[2].name, "Mid");
}

TEST(Registry, DeleteValueKeyAndTree) {
  testsupport::TempPrefix prefix;
  RegKey top, leaf;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\T", &top), kOk);
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\T\\a\\b", &leaf), kOk);
  ASSERT_EQ(top.setDword("v", 1), kOk);
  ASSERT_EQ(leaf.setDword("w", 1), kOk);

  EXPECT_EQ(top.deleteValue("V"), kOk);
  EXPECT_EQ(top.deleteValue("v"), kFileNotFound);
  EXPECT_EQ(deleteRegistryKey(RegRoot::CurrentUser, "Software\\T\\a"), kAccessDenied);
  EXPECT_EQ(deleteRegistryKey(RegRoot::CurrentUser, "Software\\T\\a\\b"), kOk);
  EXPECT_EQ(deleteRegistryKey(RegRoot::CurrentUser, "Software\\T\\a\\b"), kFileNotFound);
  // A handle to a deleted key reports it, even after a key of that name is
  // made again.
  EXPECT_EQ(leaf.setDword("w", 2), kKeyDeleted);
  RegKey recreated;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\T\\a\\b", &recreated), kOk);
  RegValue value;
  EXPECT_EQ(leaf.readValue("w", &value), kKeyDeleted);
  EXPECT_EQ(recreated.readValue("w", &value), kFileNotFound);  // values went with the key

  EXPECT_EQ(deleteRegistryTree(RegRoot::CurrentUser, "software\\t"), kOk);
  EXPECT_EQ(RegKey::open(RegRoot::CurrentUser, "Software\\T", &top), kFileNotFound);
  EXPECT_EQ(deleteRegistryTree(RegRoot::CurrentUser, "Software\\T"), kFileNotFound);
  RegKey software;
  ASSERT_EQ(RegKey::open(RegRoot::CurrentUser, "Software", &software), kOk);
  std::vector<std::string> names;
  ASSERT_EQ(software.subKeys(&names), kOk);
  EXPECT_TRUE(names.empty());
}

TEST(Registry, ClassesRootIsAViewOfMachineClasses) {
  testsupport::TempPrefix prefix;
  RegKey root;
  ASSERT_EQ(RegKey::open(RegRoot::ClassesRoot, "", &root), kOk);  // exists even when empty
  RegKey clsid;
  ASSERT_EQ(RegKey::create(RegRoot::ClassesRoot, "CLSID\\{1234}\\InprocServer32", &clsid), kOk);
  ASSERT_EQ(clsid.setString("", "/opt/Bookmark.so"), kOk);
  EXPECT_EQ(clsid.root(), RegRoot::ClassesRoot);
  RegKey machine;
  ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, "Software\\Classes\\CLSID\\{1234}\\InprocServer32",
                         &machine),
            kOk);
  RegValue value;
  ASSERT_EQ(machine.readValue("", &value), kOk);
  EXPECT_EQ(value.data, std::string("/opt/Bookmark.so\0", 17));
  EXPECT_EQ(deleteRegistryKey(RegRoot::ClassesRoot, ""), kAccessDenied);
  EXPECT_EQ(deleteRegistryTree(RegRoot::ClassesRoot, "CLSID"), kOk);
  EXPECT_EQ(RegKey::open(RegRoot::LocalMachine, "Software\\Classes\\CLSID", &machine), kFileNotFound);
  EXPECT_EQ(RegKey::open(RegRoot::LocalMachine, "Software\\Classes", &machine), kOk);
}

TEST(Registry, ANewPrefixAtTheSamePlaceIsANewRegistry) {
  testsupport::TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\Old", &key), kOk);
  std::filesystem::remove_all(prefix.path() / "registry");
  EXPECT_EQ(RegKey::open(RegRoot::CurrentUser, "Software\\Old", &key), kFileNotFound);
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\New", &key), kOk);
  EXPECT_TRUE(std::filesystem::exists(prefix.path() / "registry" / "HKCU.db"));
}

TEST(Registry, ParsesFullPaths) {
  struct Row {
    const char* full;
    bool ok;
    RegRoot root;
    const char* path;
  } rows[] = {
      {"HKEY_CURRENT_USER\\Software\\X", true, RegRoot::CurrentUser, "Software\\X"},
      {"hkcu\\Software", true, RegRoot::CurrentUser, "Software"},
      {"HKLM\\Software\\Classes\\", true, RegRoot::LocalMachine, "Software\\Classes"},
      {"HKEY_CLASSES_ROOT", true, RegRoot::ClassesRoot, ""},
      {"HKCR\\CLSID", true, RegRoot::ClassesRoot, "CLSID"},
      {"HKU\\x", false, RegRoot::CurrentUser, ""},
      {"HKCUX\\y", false, RegRoot::CurrentUser, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.full);
    RegRoot root = RegRoot::CurrentUser;
    std::string path;
    ASSERT_EQ(parseRegistryPath(row.full, &root, &path), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(root, row.root);
    EXPECT_EQ(path, row.path);
  }
  EXPECT_STREQ(registryRootName(RegRoot::LocalMachine), "HKEY_LOCAL_MACHINE");
}

}  // namespace
}  // namespace platform
