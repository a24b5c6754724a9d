#include "plugin/registration.h"

#include <cstdio>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "plugin/identifiers.h"

namespace bookmark {
namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::Status;

constexpr char kProgId[] = "Bookmark.IEBookmark.1";
constexpr char kVersionIndependentProgId[] = "Bookmark.IEBookmark";
constexpr char kClassDescription[] = "IEBookmark Class";
constexpr char kInterfaceName[] = "IIEBookmark";
constexpr char kTypeLibraryHelp[] = "Bookmark 1.0 Type Library";
constexpr char kTypeLibraryVersion[] = "1.0";

// HRESULT_FROM_WIN32.
HRESULT fromStatus(Status status) {
  return status == platform::kOk ? S_OK : static_cast<HRESULT>(0x80070000u | (status & 0xFFFFu));
}

// One line of a registry script: a key below HKEY_CLASSES_ROOT and, unless
// the name is null, one REG_SZ value of it ("" is the default value).
struct ScriptEntry {
  std::string key;
  const char* name;
  std::string data;
};

Status runScript(const std::vector<ScriptEntry>& entries) {
  for (const ScriptEntry& entry : entries) {
    RegKey key;
    Status status = RegKey::create(RegRoot::ClassesRoot, entry.key, &key);
    if (status != platform::kOk) return status;
    if (entry.name) {
      status = key.setString(entry.name, entry.data);
      if (status != platform::kOk) return status;
    }
  }
  return platform::kOk;
}

// Removes keys with everything below them; a key that is not there counts as
// removed, as the registrar treats it.
Status removeKeys(RegRoot root, const std::vector<std::string>& keys) {
  for (const std::string& path : keys) {
    Status status = platform::deleteRegistryTree(root, path);
    if (status != platform::kOk && status != platform::kFileNotFound) return status;
  }
  return platform::kOk;
}

std::string classKey() { return std::string("CLSID\\") + kClassIdText; }

// Script 1: the application identifier. The key AppID itself stays.
std::vector<ScriptEntry> appIdScript() {
  return {
      {std::string("AppID\\") + kAppIdText, "", "Bookmark"},
      {"AppID\\Bookmark.DLL", "AppID", kAppIdText},
  };
}
std::vector<std::string> appIdKeys() {
  return {std::string("AppID\\") + kAppIdText, "AppID\\Bookmark.DLL"};
}

// Script 2: the class and its ProgIDs. The key CLSID itself stays.
std::vector<ScriptEntry> classScript(const std::string& module) {
  const std::string clsid = classKey();
  return {
      {kProgId, "", kClassDescription},
      {std::string(kProgId) + "\\CLSID", "", kClassIdText},
      {kVersionIndependentProgId, "", kClassDescription},
      {std::string(kVersionIndependentProgId) + "\\CLSID", "", kClassIdText},
      {std::string(kVersionIndependentProgId) + "\\CurVer", "", kProgId},
      {clsid, "", kClassDescription},
      {clsid, "AppID", kAppIdText},
      {clsid + "\\ProgID", "", kProgId},
      {clsid + "\\VersionIndependentProgID", "", kVersionIndependentProgId},
      {clsid + "\\InprocServer32", "", module},
      {clsid + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {clsid + "\\TypeLib", "", kTypeLibraryIdText},
  };
}
std::vector<std::string> classKeys() { return {kProgId, kVersionIndependentProgId, classKey()}; }

// The type library as the system registers one: its help text, the file
// for 32-bit clients (locale 0), its flags and help folder.
std::string typeLibraryKey() { return std::string("TypeLib\\") + kTypeLibraryIdText; }
std::vector<ScriptEntry> typeLibraryScript(const std::filesystem::path& module) {
  const std::string version = typeLibraryKey() + "\\" + kTypeLibraryVersion;
  return {
      {version, "", kTypeLibraryHelp},
      {version + "\\0\\win32", "", module.string()},
      {version + "\\FLAGS", "", "0"},
      {version + "\\HELPDIR", "", module.parent_path().string()},
  };
}

// Removes the library's version and, when no other version is left, the
// library's key.
Status unregisterTypeLibrary() {
  Status status = removeKeys(RegRoot::ClassesRoot, {typeLibraryKey() + "\\" + kTypeLibraryVersion});
  if (status != platform::kOk) return status;
  RegKey key;
  if (RegKey::open(RegRoot::ClassesRoot, typeLibraryKey(), &key) == platform::kOk) {
    std::vector<std::string> versions;
    key.subKeys(&versions);
    key.close();
    if (versions.empty()) return removeKeys(RegRoot::ClassesRoot, {typeLibraryKey()});
  }
  return platform::kOk;
}

// The proxy/stub of IIEBookmark: the interface names its proxy/stub class,
// whose identifier is the interface's own (the first interface of the file),
// served by this module.
std::string interfaceKey() { return std::string("Interface\\") + kInterfaceIdText; }
std::string proxyStubClassKey() { return std::string("CLSID\\") + kInterfaceIdText; }
std::vector<ScriptEntry> proxyStubScript(const std::filesystem::path& module) {
  return {
      {interfaceKey(), "", kInterfaceName},
      {interfaceKey() + "\\NumMethods", "", "3"},
      {interfaceKey() + "\\ProxyStubClsid32", "", kInterfaceIdText},
      {proxyStubClassKey(), "", "PSFactoryBuffer"},
      {proxyStubClassKey() + "\\InProcServer32", "", module.string()},
      {proxyStubClassKey() + "\\InProcServer32", "ThreadingModel", "Both"},
  };
}
std::vector<std::string> proxyStubKeys() { return {interfaceKey(), proxyStubClassKey()}; }

// A REG_SZ value of exactly `size` bytes of the text (with or without its
// terminating zero).
bool setSized(RegKey& key, const char* name, const std::string& text, size_t size) {
  return key.setValue(name, platform::kRegSz, text.c_str(), static_cast<uint32_t>(size)) == platform::kOk;
}

}  // namespace

std::string iconReference(const std::filesystem::path& module, unsigned resource) {
  // The path as the system gives it, in a buffer of 1024 bytes.
  std::string path = module.string();
  if (path.size() > 1023) path.resize(1023);
  char text[1100];
  std::snprintf(text, sizeof text, "%s,%u", path.c_str(), resource);
  return text;
}

HRESULT registerServer(const std::filesystem::path& module) {
  Status status = runScript(appIdScript());
  if (status != platform::kOk) return fromStatus(status);

  // The class key is created anew.
  status = removeKeys(RegRoot::ClassesRoot, {classKey()});
  if (status == platform::kOk) status = runScript(classScript(module.string()));
  if (status == platform::kOk) status = runScript(typeLibraryScript(module));
  if (status != platform::kOk) return fromStatus(status);

  status = runScript(proxyStubScript(module));
  if (status != platform::kOk) return fromStatus(status);

  RegKey extension;
  if (RegKey::create(RegRoot::LocalMachine, std::string(kExtensionsKey) + "\\" + kExtensionIdText, &extension) !=
      platform::kOk) {
    return SELFREG_E_CLASS;
  }
  const std::string hotIcon = iconReference(module, kHotIconResource);
  const std::string icon = iconReference(module, kIconResource);
  // Byte counts as the browser's own setup writes them: the first three with
  // their terminating zero, the others without.
  const bool written = setSized(extension, "CLSID", kCommandExtensionClassText, 39) &&
                       setSized(extension, "Default Visible", "Yes", 4) &&
                       setSized(extension, "ClsidExtension", kClassIdText, 39) &&
                       setSized(extension, "ButtonText", "Favorites", 9) &&
                       setSized(extension, "MenuText", "Favorites", 9) &&
                       setSized(extension, "MenuStatusBar", "Work with favorites", 19) &&
                       setSized(extension, "HotIcon", hotIcon, hotIcon.size()) &&
                       setSized(extension, "Icon", icon, icon.size());
  if (!written) return SELFREG_E_CLASS;

  RegKey helper;
  if (RegKey::create(RegRoot::LocalMachine, std::string(kHelperObjectsKey) + "\\" + kClassIdText, &helper) !=
      platform::kOk) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT unregisterServer(const std::filesystem::path& module) {
  Status status = removeKeys(RegRoot::ClassesRoot, classKeys());
  if (status == platform::kOk) status = unregisterTypeLibrary();
  if (status != platform::kOk) return fromStatus(status);

  status = removeKeys(RegRoot::ClassesRoot, appIdKeys());
  if (status != platform::kOk) return fromStatus(status);

  // The proxy/stub is registered once more and then removed, so that its
  // removal finds every key it expects.
  status = runScript(proxyStubScript(module));
  if (status == platform::kOk) status = removeKeys(RegRoot::ClassesRoot, proxyStubKeys());
  if (status != platform::kOk) return fromStatus(status);

  RegKey extensions;
  if (RegKey::open(RegRoot::LocalMachine, kExtensionsKey, &extensions) != platform::kOk ||
      platform::deleteRegistryTree(RegRoot::LocalMachine, std::string(kExtensionsKey) + "\\" + kExtensionIdText) !=
          platform::kOk) {
    return SELFREG_E_CLASS;
  }
  RegKey helpers;
  if (RegKey::open(RegRoot::LocalMachine, kHelperObjectsKey, &helpers) != platform::kOk ||
      platform::deleteRegistryTree(RegRoot::LocalMachine, std::string(kHelperObjectsKey) + "\\" + kClassIdText) !=
          platform::kOk) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

}  // namespace bookmark
