// The settings file of one application: "bookmarks_" + name + ".cfg" in the
// "BookmarkPlugin" folder of the roaming application-data folder. It is read
// once, when the ClientApp is created, and written once, when it is destroyed
// at engine unload; every process writes it in turn, the last one wins. It
// holds scrambled credentials, so the folder is private (0700) and the file
// is created 0600.
#pragma once

#include <filesystem>

namespace corvex {

class ClientApp;

// Creates the "BookmarkPlugin" folder when missing. The name is converted
// from the ANSI code page for the file system.
std::filesystem::path settingsFilePath(const ClientApp& app);

// True when the file was opened and read completely, whatever it held (an
// empty file counts); the values it yields are applied. Missing or unreadable
// file: false, nothing logged.
bool loadSettingsFile(ClientApp& app);

// Writes the whole file in one write and logs the outcome.
bool saveSettingsFile(const ClientApp& app);

}  // namespace corvex
