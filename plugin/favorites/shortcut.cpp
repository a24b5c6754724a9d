#include "plugin/favorites/shortcut.h"

#include <exception>
#include <fstream>
#include <optional>

#include "exchange/document.h"
#include "platform/codepage.h"
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/last_error.h"
#include "platform/files.h"
#include "plugin/favorites/carried.h"
#include "plugin/favorites/favorites_log.h"
#include "plugin/favorites/file_bytes.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/item_nodes.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/writer.h"

namespace favorites {
namespace {

constexpr char kSection[] = "[InternetShortcut]";
constexpr char kDataImage[] = "data:image";

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

void dropTrailingControls(std::string* text) {
  while (!text->empty() && static_cast<unsigned char>(text->back()) < 32) text->pop_back();
}

std::string withoutControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 32) out.push_back(c);
  }
  return out;
}

// The offset just after the "=" of a key, or npos when the key is absent.
size_t findValueStart(const std::string& text, const std::string& key) {
  size_t at = text.find("\n" + key);
  if (at == std::string::npos) return std::string::npos;
  at += 1 + key.size();
  while (at < text.size() && text[at] == ' ') ++at;
  if (at >= text.size() || text[at] != '=') return std::string::npos;
  return at + 1;
}

std::string ansiToUtf8(const std::string& ansi) {
  return platform::utf16ToUtf8(platform::ansiToUtf16(ansi));
}

std::string utf8ToAnsi(const std::string& utf8) {
  return platform::utf16ToAnsi(platform::utf8ToUtf16(utf8));
}

std::u16string readShortcutFile(const std::filesystem::path& file, xmlNode* parent,
                                const std::u16string& relativePath) {
  const std::u16string shownPath = platform::pathToUtf16(file);
  std::string bytes;
  bool tooLarge = false;
  switch (readFileBytes(file, &bytes, kMaxShortcutFileSize, &tooLarge)) {
    case FileRead::OpenFailed:
      return u"Error while opening file: " + shownPath;
    case FileRead::ReadFailed:
      return u"Error while reading file: " + shownPath;
    case FileRead::Ok:
      break;
  }
  // Grown past the bound since it was listed: no shortcut, left alone.
  if (tooLarge) return std::u16string();
  std::optional<ShortcutFields> fields = parseShortcutText(bytes);
  if (!fields) return std::u16string();
  if (fields->iconNeedsEmbedding) {
    std::u16string error = embedIcon(&fields->iconFile);
    if (!error.empty()) return error;
    dropTrailingControls(&fields->iconFile);
  }
  const std::string& link = fields->link;
  const std::string& description = fields->description;
  const std::string& iconFile = fields->iconFile;
  const int32_t iconIndex = fields->iconIndex;
  const int32_t hotkey = fields->hotkey;

  std::u16string fileName = platform::pathToUtf16(file.filename());
  const size_t dot = fileName.rfind(u'.');
  const std::u16string name = dot == std::u16string::npos ? fileName : fileName.substr(0, dot);

  using namespace exchange;
  xmlNode* bookmark = addElement(parent, kBookmarkElement);
  if (!bookmark) throw std::bad_alloc();
  addTextElement(bookmark, kNameElement, platform::utf16ToUtf8(name));
  addTextElement(bookmark, kLinkElement, ansiToUtf8(link));
  if (!iconFile.empty()) addTextElement(bookmark, kIconFileElement, ansiToUtf8(iconFile));
  if (!description.empty()) addTextElement(bookmark, kDescriptionElement, ansiToUtf8(description));
  if (iconIndex != -1) addTextElement(bookmark, kIconIndexElement, std::to_string(iconIndex));
  if (hotkey != -1) addTextElement(bookmark, kHotkeyElement, std::to_string(hotkey));

  if (MenuOrderFolder* order = menuOrderFor(relativePath)) {
    const int32_t position = order->lookupPosition(fileName, ItemKind::File);
    if (position >= 0 || position == -5) setOrder(bookmark, position);
  }
  return std::u16string();
}

}  // namespace

std::optional<ShortcutFields> parseShortcutText(const std::string& bytes) {
  const std::string text = bytes.substr(0, bytes.find('\0'));
  if (text.empty() || text.find(kSection) == std::string::npos) return std::nullopt;
  ShortcutFields fields;
  std::string number;
  readShortcutValue(text, "URL", &fields.link);
  readShortcutValue(text, "Description", &fields.description);
  if (readShortcutValue(text, "IconIndex", &number)) fields.iconIndex = parseDecimal(number);
  if (readShortcutValue(text, "Hotkey", &number)) fields.hotkey = parseDecimal(number);
  std::string& icon = fields.iconFile;
  readShortcutValue(text, "IconFile", &icon);

  const bool dataImage = startsWith(icon, kDataImage);
  const size_t valueStart = findValueStart(text, "IconFile");
  if (dataImage && valueStart != std::string::npos &&
      text.find('\n', valueStart) != std::string::npos) {
    // An embedded image may span lines; it ends at the first empty line.
    size_t end = text.find("\n\n", valueStart);
    if (end == std::string::npos) end = text.find("\r\n\r\n", valueStart);
    if (end == std::string::npos) end = text.size();
    icon = text.substr(valueStart, end - valueStart);
  } else if (!dataImage) {
    // A path may become an embedded icon, or nothing (embedIcon).
    fields.iconNeedsEmbedding = true;
    return fields;
  }
  // A data URI on one line (the last of the text) is kept as it is.
  dropTrailingControls(&icon);
  if (!icon.empty()) icon += "\r\n";
  return fields;
}

bool readShortcutValue(const std::string& text, const std::string& key, std::string* value) {
  const size_t start = findValueStart(text, key);
  if (start == std::string::npos) return false;
  size_t end = text.find('\n', start);
  if (end == std::string::npos) end = text.size();
  std::string raw = text.substr(start, end - start);
  size_t first = 0;
  while (first < raw.size() && isSpace(raw[first])) ++first;
  size_t last = raw.size();
  while (last > first && isSpace(raw[last - 1])) --last;
  raw = raw.substr(first, last - first);
  if (key == "URL" || key == "Description" || key == "IconFile") dropTrailingControls(&raw);
  *value = std::move(raw);
  return true;
}

std::string buildShortcutText(const ShortcutContent& content) {
  const std::string link = withoutControls(content.link);
  std::string text = "[DEFAULT]\r\nBASEURL=" + link + "\r\n[InternetShortcut]\r\nURL=" + link;
  if (content.iconFile) {
    const std::string& icon = *content.iconFile;
    text += "\r\nIconFile=" + (startsWith(icon, kDataImage) ? icon : withoutControls(icon));
    if (!content.iconIndex) text += "\r\nIconIndex=0";
  }
  if (content.iconIndex) text += "\r\nIconIndex=" + withoutControls(*content.iconIndex);
  if (content.hotkey) text += "\r\nHotkey=" + withoutControls(*content.hotkey);
  const std::string description = withoutControls(content.description);
  if (!description.empty()) text += "\r\nDescription=" + description;
  return text;
}

std::u16string readInternetShortcut(const std::filesystem::path& file, xmlNode* parent,
                                    const std::u16string& relativePath) {
  try {
    return readShortcutFile(file, parent, relativePath);
  } catch (...) {
    return u"Unknown exception while processing file: " + platform::pathToUtf16(file);
  }
}

std::u16string writeInternetShortcut(const std::filesystem::path& folder, xmlNode* bookmark,
                                     const std::u16string& relativePath) {
  try {
    using exchange::childText;
    const std::u16string name =
        platform::utf8ToUtf16(childText(bookmark, exchange::kNameElement).value_or(""));
    const std::u16string fileName = name + u".url";
    // The path shown in messages is the one the file would have had, also
    // for a name that is refused.
    const std::u16string shownPath = finalPathText(folder) + u"\\" + fileName;
    if (!isSafeItemName(name)) return u"Can not create file " + shownPath;
    if (shownPath.size() > kMaxFilePath) {
      platform::setLastError(platform::kFilenameTooLong);
      return u"Can not create file " + shownPath;
    }
    const std::filesystem::path file = folder / platform::pathFromUtf16(fileName);

    if (MenuOrderFolder* order = menuOrderFor(relativePath)) {
      const int32_t position = orderOf(bookmark);
      order->addEntry(fileName, platform::shortName(file), ItemKind::File,
                      position >= 0 ? position : -1);
    }

    ShortcutContent content;
    content.link = utf8ToAnsi(childText(bookmark, exchange::kLinkElement).value_or(""));
    if (std::optional<std::string> icon = childText(bookmark, exchange::kIconFileElement)) {
      const std::string ansi = utf8ToAnsi(*icon);
      if (startsWith(ansi, kIconDataUriPrefix)) {
        bool failed = false;
        content.iconFile = extractIcon(ansi, &failed);
        if (failed) return u"Error while saving file " + platform::ansiToUtf16(*content.iconFile);
      } else if (iconValueAllowed(ansi)) {
        content.iconFile = ansi;
      } else {
        logNote("Favorites: the icon of " + platform::utf16ToUtf8(shownPath) + " names " + ansi +
                ", a file outside the icons folder; the shortcut is written without it.");
      }
    }
    if (std::optional<std::string> index = childText(bookmark, exchange::kIconIndexElement)) {
      content.iconIndex = utf8ToAnsi(*index);
    }
    if (std::optional<std::string> hotkey = childText(bookmark, exchange::kHotkeyElement)) {
      content.hotkey = utf8ToAnsi(*hotkey);
    }
    content.description =
        utf8ToAnsi(childText(bookmark, exchange::kDescriptionElement).value_or(""));
    const std::string bytes = buildShortcutText(content);

    switch (platform::createAndWriteFile(file, bytes)) {
      case platform::FileWriteResult::NotCreated: return u"Can not create file " + shownPath;
      case platform::FileWriteResult::NotWritten: return u"Error while saving file " + shownPath;
      case platform::FileWriteResult::Written: break;
    }
    return std::u16string();
  } catch (const std::exception& e) {
    return platform::ansiToUtf16(e.what()) + u" in node " +
           platform::utf8ToUtf16(reinterpret_cast<const char*>(bookmark->name));
  }
}

}  // namespace favorites
