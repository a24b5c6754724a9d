// What the plug-in writes into the registry to be a COM server, a browser
// helper object and a toolbar button, and how it takes it back out again.
//
// Registration, stopping at the first failure:
//   1. the application identifier (HKCR\AppID),
//   2. the class (the ProgIDs and HKCR\CLSID\{class}, created anew) and the
//      type library (HKCR\TypeLib),
//   3. the marshalling code of IIEBookmark (HKCR\Interface and its proxy/stub
//      class),
//   4. the browser extension key with its eight values (SELFREG_E_CLASS on
//      failure),
//   5. the empty browser helper object key (SELFREG_E_CLASS on failure).
// Unregistration takes the same steps back; it fails with SELFREG_E_CLASS
// when the extension or helper object key cannot be deleted, so unregistering
// twice fails at the extension key.
#pragma once

#include <filesystem>
#include <string>

#include "platform/com.h"

namespace bookmark {

inline constexpr char kExtensionsKey[] = "Software\\Microsoft\\Internet Explorer\\Extensions";
inline constexpr char kHelperObjectsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

// "%s,%u" of the module path and an icon resource number.
std::string iconReference(const std::filesystem::path& module, unsigned resource);

HRESULT registerServer(const std::filesystem::path& module);
HRESULT unregisterServer(const std::filesystem::path& module);

}  // namespace bookmark
