// Internet shortcut files ("*.url"): one bookmark each, ANSI text of
// sections and key=value lines. Written as exactly
//
//   [DEFAULT]\r\nBASEURL=<link>\r\n[InternetShortcut]\r\nURL=<link>
//   \r\nIconFile=<icon>      only with an icon, followed by \r\nIconIndex=0
//                            when there is no icon index
//   \r\nIconIndex=<index>    only with an icon index
//   \r\nHotkey=<hotkey>      only with a hot key
//   \r\nDescription=<text>   only with a non-empty description
//
// with no line break at the end. Reading looks for each key only at the
// start of a line (line feed + key, exact letter case) and never reads
// BASEURL.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace favorites {

// The value of a key: the first line feed + key anywhere in the text, spaces,
// "=", then up to the next line feed, white space trimmed; for "URL",
// "Description" and "IconFile" also trailing control characters removed.
// False when the first occurrence is not followed by "=" or there is none.
bool readShortcutValue(const std::string& text, const std::string& key, std::string* value);

// What the reader takes from a shortcut file's bytes, in the ANSI code page.
struct ShortcutFields {
  std::string link;         // "URL", empty when absent
  std::string description;  // "Description"
  // "IconFile": an embedded image spanning lines as read (ending in "\r\n"),
  // otherwise the trimmed value, which embedIcon still has to see.
  std::string iconFile;
  bool iconNeedsEmbedding = false;
  int32_t iconIndex = -1;  // -1: absent (a stored -1 reads as absent too)
  int32_t hotkey = -1;
};

// Parses a shortcut file's bytes (up to the first zero byte). Nothing for
// an empty text or one without "[InternetShortcut]".
std::optional<ShortcutFields> parseShortcutText(const std::string& bytes);

// What a shortcut file holds, in the ANSI code page.
struct ShortcutContent {
  std::string link;
  std::optional<std::string> iconFile;
  std::optional<std::string> iconIndex;
  std::optional<std::string> hotkey;
  std::string description;
};

// The file's bytes for the content. Every byte below 32 is removed from each
// value, so that no value can add a line of its own; only an icon value that
// begins with "data:image" keeps its line breaks (such a value may span
// lines, up to the first empty one).
std::string buildShortcutText(const ShortcutContent& content);

// Reads one shortcut file into a "bookmark" element appended to the parent
// (nothing for a file that is not an Internet shortcut). relativePath names
// the file's folder in the menu order. Returns an error text, empty on
// success.
std::u16string readInternetShortcut(const std::filesystem::path& file, xmlNode* parent,
                                    const std::u16string& relativePath);

// Writes a "bookmark" element as folder/<name>.url and records it in the
// folder's menu order. Returns an error text, empty on success.
std::u16string writeInternetShortcut(const std::filesystem::path& folder, xmlNode* bookmark,
                                     const std::u16string& relativePath);

}  // namespace favorites
