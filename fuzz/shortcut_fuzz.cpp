// libFuzzer target: an Internet shortcut file as any program may have left
// it in the Favorites folder. The bytes are read as a file of a private
// prefix into a bookmark element (values, icon rules, menu order look-up);
// every key is also looked up on the bytes directly, and an embedded icon is
// written back out as the icons folder's file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>

#include "exchange/document.h"
#include "fuzz/fuzz_prefix.h"
#include "platform/files.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/shortcut.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path& prefix = fuzzsupport::fuzzPrefix();
  static const std::filesystem::path file = [&] {
    std::filesystem::create_directories(prefix / "Favorites");
    return prefix / "Favorites" / "Fuzz.url";
  }();
  const std::string bytes = fuzzsupport::bytesOf(data, size);
  if (!platform::writeWholeFile(file, bytes)) std::abort();

  static const char* const kKeys[] = {"URL", "IconFile", "IconIndex", "Hotkey", "Description", "BASEURL"};
  for (const char* key : kKeys) {
    std::string value;
    if (favorites::readShortcutValue(bytes, key, &value) && value.find('\n') != std::string::npos) std::abort();
  }

  exchange::UniqueXmlDoc doc = exchange::newDocument();
  xmlNode* root = exchange::rootElement(doc.get());
  favorites::readInternetShortcut(file, root, u"");
  favorites::discardMenuOrders();
  if (xmlNode* bookmark = exchange::firstChildElement(root, exchange::kBookmarkElement)) {
    if (auto icon = exchange::childText(bookmark, exchange::kIconFileElement)) {
      const std::string written = favorites::extractIcon(*icon);
      if (!written.empty()) {
        std::error_code ignored;
        std::filesystem::remove(written, ignored);
      }
    }
    if (!exchange::parseDocumentText(exchange::documentToText(doc.get()))) std::abort();
  }
  return 0;
}
