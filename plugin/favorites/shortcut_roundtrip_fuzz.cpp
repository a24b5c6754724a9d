// libFuzzer target: shortcut files are outside bytes. Whatever a file holds,
// the values read from it, written back and read again stay the same (up to
// the control bytes that writing removes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plugin/favorites/shortcut.h"

namespace {

std::string withoutControls(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 32) out.push_back(c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::optional<favorites::ShortcutFields> fields = favorites::parseShortcutText(bytes);
  if (!fields) return 0;
  favorites::ShortcutContent content;
  content.link = fields->link;
  content.description = fields->description;
  if (fields->iconIndex != -1) content.iconIndex = std::to_string(fields->iconIndex);
  if (fields->hotkey != -1) content.hotkey = std::to_string(fields->hotkey);
  std::optional<favorites::ShortcutFields> again =
      favorites::parseShortcutText(favorites::buildShortcutText(content));
  if (!again) std::abort();
  // Writing drops control bytes; reading trims the white space that leaves
  // at the ends.
  std::optional<favorites::ShortcutFields> expected =
      favorites::parseShortcutText("[InternetShortcut]\nURL=" + withoutControls(fields->link) +
                                   "\nDescription=" + withoutControls(fields->description));
  if (again->link != expected->link || again->description != expected->description) std::abort();
  if (fields->iconIndex != -1 && again->iconIndex != fields->iconIndex) std::abort();
  if (fields->hotkey != -1 && again->hotkey != fields->hotkey) std::abort();
  return 0;
}
