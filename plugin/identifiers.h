// The plug-in's identifiers and fixed names: class, interfaces, type library,
// application and browser extension, the named mutexes and the texts that
// several components share.
#pragma once

#include "platform/com.h"

namespace bookmark {

// IEBookmark: {EF341F91-4715-46E2-B0AF-724E3225E52E}
inline constexpr CLSID CLSID_IEBookmark = {
    0xEF341F91, 0x4715, 0x46E2, {0xB0, 0xAF, 0x72, 0x4E, 0x32, 0x25, 0xE5, 0x2E}};
// IIEBookmark: {0A4A72D2-FB81-440A-9C76-AEA8B88D0DCC}
inline constexpr IID IID_IIEBookmark = {
    0x0A4A72D2, 0xFB81, 0x440A, {0x9C, 0x76, 0xAE, 0xA8, 0xB8, 0x8D, 0x0D, 0xCC}};
// BookmarkLib: {00171FCE-DD4F-49F3-838D-4811A098A77D}
inline constexpr GUID LIBID_BookmarkLib = {
    0x00171FCE, 0xDD4F, 0x49F3, {0x83, 0x8D, 0x48, 0x11, 0xA0, 0x98, 0xA7, 0x7D}};

inline constexpr char kClassIdText[] = "{EF341F91-4715-46E2-B0AF-724E3225E52E}";
inline constexpr char kInterfaceIdText[] = "{0A4A72D2-FB81-440A-9C76-AEA8B88D0DCC}";
inline constexpr char kTypeLibraryIdText[] = "{00171FCE-DD4F-49F3-838D-4811A098A77D}";
inline constexpr char kAppIdText[] = "{B161E308-975D-4B52-979D-04A51343460E}";
inline constexpr char kExtensionIdText[] = "{47685814-18BB-4659-8245-14A9C9EBDD76}";
// The browser's class for toolbar buttons that run a command object.
inline constexpr char kCommandExtensionClassText[] = "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}";

// The application name the plug-in passes to every engine export.
inline constexpr char kAppName[] = "Explorer";
inline constexpr char kBrowserExecutable[] = "IEXPLORE.EXE";
inline constexpr char kMessageCaption[] = "Bookmark plugin";

// Held open by the first browser process of the machine.
inline constexpr char kStartupMutexName[] = "BoOkmArkPlugIn_StArtEd";
// Exists while a synchronisation run is in progress anywhere.
inline constexpr char kRunMutexName[] = "BookmarkPlugin_Synchronize";

// The engine's per-application key, which also holds "lastsync".
inline constexpr char kSettingsKeyBase[] = "Software\\Veltrane Inc.\\Quorvane\\";

// Resources: toolbar icons (hot, normal) and the notification icon.
inline constexpr int kHotIconResource = 201;
inline constexpr int kIconResource = 202;
inline constexpr int kNotifyIconResource = 204;

}  // namespace bookmark
