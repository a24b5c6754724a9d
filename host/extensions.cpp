#include "host/extensions.h"

#include <strings.h>

#include "platform/registry.h"

namespace host {
namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegValue;

bool readText(const RegKey& key, const std::string& name, std::string* text) {
  RegValue value;
  if (key.readValue(name, &value) != platform::kOk) return false;
  if (value.type != platform::kRegSz && value.type != platform::kRegExpandSz) return false;
  *text = registryText(value.data);
  return true;
}

}  // namespace

std::string registryText(const std::string& data) {
  size_t end = data.find('\0');
  return end == std::string::npos ? data : data.substr(0, end);
}

std::vector<GUID> findHelperObjects(std::vector<std::string>* problems) {
  std::vector<GUID> classes;
  RegKey key;
  if (RegKey::open(RegRoot::LocalMachine, kHelperObjectsKey, &key) != platform::kOk) return classes;
  std::vector<std::string> names;
  key.subKeys(&names);
  for (const std::string& name : names) {
    GUID clsid;
    if (platform::guidFromString(name, &clsid)) {
      classes.push_back(clsid);
    } else {
      problems->push_back("helper object key " + name + " is not a class identifier");
    }
  }
  return classes;
}

std::vector<ToolbarButton> findToolbarButtons(std::vector<std::string>* problems) {
  std::vector<ToolbarButton> buttons;
  RegKey extensions;
  if (RegKey::open(RegRoot::LocalMachine, kExtensionsKey, &extensions) != platform::kOk) {
    return buttons;
  }
  std::vector<std::string> names;
  extensions.subKeys(&names);
  for (const std::string& name : names) {
    RegKey key;
    if (RegKey::open(RegRoot::LocalMachine, std::string(kExtensionsKey) + "\\" + name, &key) !=
        platform::kOk) {
      continue;
    }
    ToolbarButton button;
    button.key = name;
    if (!readText(key, "ButtonText", &button.text)) {
      problems->push_back("extension " + name + " has no ButtonText");
      continue;
    }
    std::string visible;
    if (readText(key, "Default Visible", &visible))
      button.visible = strcasecmp(visible.c_str(), "no") != 0;
    std::string clsidText, objectText;
    readText(key, "CLSID", &clsidText);
    GUID clsid{};
    const bool commandExtension =
        platform::guidFromString(clsidText, &clsid) && clsid == kCommandExtensionClass;
    if (commandExtension && readText(key, "ClsidExtension", &objectText)) {
      if (!platform::guidFromString(objectText, &button.objectClass)) {
        problems->push_back("extension " + name + " has a bad ClsidExtension");
        continue;
      }
      button.hasObject = true;
    } else if (!readText(key, "Exec", &button.exec)) {
      problems->push_back("extension " + name + " has neither ClsidExtension nor Exec");
      continue;
    }
    buttons.push_back(std::move(button));
  }
  return buttons;
}

std::string inprocServerPath(const GUID& clsid, std::filesystem::path* path) {
  const std::string keyPath = "CLSID\\" + platform::guidToString(clsid) + "\\InprocServer32";
  RegKey key;
  if (RegKey::open(RegRoot::ClassesRoot, keyPath, &key) != platform::kOk) {
    return "class not registered (no HKCR\\" + keyPath + ")";
  }
  std::string text;
  if (!readText(key, "", &text) || text.empty()) return "HKCR\\" + keyPath + " names no library";
  *path = text;
  return {};
}

}  // namespace host
