// What the registry tells the browser about its extensions.
//
//   HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects\{CLSID}
//       one sub-key per helper object; created for every browser window
//   HKLM\Software\Microsoft\Internet Explorer\Extensions\{GUID}
//       a toolbar button: "ButtonText", "Default Visible", and either
//       "CLSID" = {1FBA04EE-3024-11d2-8F1F-0000F87ABD16} with "ClsidExtension"
//       (a COM object whose IOleCommandTarget::Exec is the command) or "Exec"
//       (a program to run)
//   HKCR\CLSID\{CLSID}\InprocServer32 (default)
//       the library that serves a class
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com.h"

namespace host {

inline constexpr const char* kHelperObjectsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
inline constexpr const char* kExtensionsKey = "Software\\Microsoft\\Internet Explorer\\Extensions";
// The browser's class for toolbar buttons that run a COM object's command.
inline constexpr GUID kCommandExtensionClass = {
    0x1FBA04EE, 0x3024, 0x11D2, {0x8F, 0x1F, 0x00, 0x00, 0xF8, 0x7A, 0xBD, 0x16}};

struct ToolbarButton {
  std::string key;      // the extension's identifier, as the key is named
  std::string text;     // "ButtonText"
  bool visible = true;  // "Default Visible" is not "No"
  bool hasObject = false;
  GUID objectClass{};  // "ClsidExtension"
  std::string exec;    // "Exec", when there is no object
};

// The classes of the registered helper objects, in registry order. Sub-keys
// that are not GUIDs are reported in *problems and skipped.
std::vector<GUID> findHelperObjects(std::vector<std::string>* problems);
// The registered toolbar buttons, in registry order; unusable entries are
// reported in *problems and skipped.
std::vector<ToolbarButton> findToolbarButtons(std::vector<std::string>* problems);
// The InprocServer32 library of a class. Returns the empty text or why the
// class cannot be served.
std::string inprocServerPath(const GUID& clsid, std::filesystem::path* path);

// A REG_SZ value's text: the bytes up to the first zero (values written
// without their terminating zero are taken whole).
std::string registryText(const std::string& data);

}  // namespace host
