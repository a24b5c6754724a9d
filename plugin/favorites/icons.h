// Icons of the Favorites and the plug-in's per-user data files.
//
// An icon file named by an absolute path means nothing on another computer,
// so icons travel inside the exchange document as data URIs
// ("data:image/x-ico;base64," + unpadded base64). Written back, each becomes
// a fresh file "icon<hex>.ico" in the icons folder, which the plug-in's
// settings file remembers under "icons_folder" (by default a folder
// "FavoritesIcons<hex>" beside the plug-in library, created on first use).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace favorites {

inline constexpr char kIconDataUriPrefix[] = "data:image/x-ico;base64,";
// Icon files larger than this are not embedded: they travel as their path.
inline constexpr uint64_t kMaxEmbeddedIconSize = 1024 * 1024;

// The per-user data folder, AppData + "BookmarkPlugin", created (without
// error check) by every function here that computes a path in it.
std::filesystem::path pluginDataFolder();
// The plug-in's own settings file "bookmarks_Explorer2.cfg": ANSI lines of
// key=value, of which only "icons_folder" is used.
std::filesystem::path pluginConfigPath();
// The engine's cache file of an application, "bookmarkscache_" + name + ".xml".
std::filesystem::path pluginCachePath(const std::string& applicationName);

// The value of a key in settings text: the first occurrence of the key
// anywhere, spaces, "=", then up to the line feed, with white space trimmed
// and trailing control characters removed. Empty when absent.
std::string readConfigValue(const std::string& text, const std::string& key);

// The icons folder, created with its settings line when the settings file
// names none; empty when it cannot be determined (nothing is then written or
// deleted for icons).
std::filesystem::path iconsFolder();

// A folder path folder/prefix<hex>/ for which nothing named prefix<hex>*
// exists; <hex> is lower-case hexadecimal counting from the tick count modulo
// 0xFFFF. Empty when every number is taken.
std::filesystem::path uniqueFolderName(const std::filesystem::path& folder,
                                       const std::string& prefix);
// A file path folder/prefix<hex>.extension that does not exist, numbered in
// the same way.
std::filesystem::path uniqueFileName(const std::filesystem::path& folder, const std::string& prefix,
                                     const std::string& extension);

// Reading a shortcut: an "IconFile" value (trimmed, ANSI) that names an
// existing ".ico" file of at most kMaxEmbeddedIconSize bytes by an absolute
// path becomes a data URI of the file's bytes; one that names a missing
// ".ico" file becomes empty (the bookmark gets no icon). Every other value is
// kept. Returns an error text when the icon file cannot be opened or read.
std::u16string embedIcon(std::string* iconValue);

// Writing a shortcut: decodes an "iconfile" text beginning with
// kIconDataUriPrefix into a new file of the icons folder and gives that
// file's path (ANSI), or empty when the data cannot be decoded or no file
// path could be formed. A file that cannot be written is removed again and
// reported through *failed (with the last error set), so that the apply
// that needed it fails rather than losing the icon.
std::string extractIcon(const std::string& dataUri, bool* failed = nullptr);

// Whether an "iconfile" value from a document may be written into a
// shortcut as it is. A value that the reader would read back as a file (an
// absolute path to an ".ico" file, see embedIcon) may name only a file
// directly inside the icons folder: anything else would let a document make
// this computer send a local file of its choosing. Other values (relative
// paths, web addresses, other data URIs) are allowed.
bool iconValueAllowed(const std::string& value);

// The icon files written while one is in scope (the apply that is building
// its result), so that the apply can remove them when it fails and keep
// exactly them when it succeeds.
class IconFilesWritten {
 public:
  IconFilesWritten();
  ~IconFilesWritten();
  IconFilesWritten(const IconFilesWritten&) = delete;
  IconFilesWritten& operator=(const IconFilesWritten&) = delete;

  const std::vector<std::filesystem::path>& files() const { return files_; }
  // Deletes the files written (the apply failed).
  void removeAll();
  // Deletes every "*.ico" file directly in the icons folder except those
  // written (the apply succeeded: the old icons are no longer named).
  void removeOthers() const;

  // The ledger in scope, or null.
  static IconFilesWritten* current();
  void add(const std::filesystem::path& file) { files_.push_back(file); }

 private:
  std::vector<std::filesystem::path> files_;
  IconFilesWritten* previous_;
};

}  // namespace favorites
