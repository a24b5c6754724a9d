// Helpers shared by the Favorites store's tests.
#pragma once

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "exchange/document.h"
#include "platform/codepage.h"
#include "platform/folders.h"
#include "plugin/favorites/menu_order.h"
#include "tests/support/temp_prefix.h"

namespace favorites_test {

namespace fs = std::filesystem;

inline fs::path testdata(const std::string& relative) {
  return fs::path(FAVORITES_TESTDATA) / relative;
}

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Little-endian pieces of a binary value, as its layout table lists them.
inline std::string le32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}
inline std::string le16(uint16_t v) { return le32(v).substr(0, 2); }
inline std::string zeros(size_t n) { return std::string(n, '\0'); }
// UTF-16 little endian with its zero terminator (ASCII input).
inline std::string utf16z(const std::string& ascii) {
  std::string s;
  for (char c : ascii) {
    s.push_back(c);
    s.push_back('\0');
  }
  return s + zeros(2);
}

// A fresh prefix (registry, Favorites, AppData) and an empty menu-order
// cache for every test.
class FavoritesTest : public ::testing::Test {
 protected:
  void SetUp() override { favorites::discardMenuOrders(); }
  void TearDown() override { favorites::discardMenuOrders(); }

  fs::path favoritesFolder() const {
    return platform::specialFolder(platform::SpecialFolder::Favorites);
  }
  fs::path appData() const { return platform::specialFolder(platform::SpecialFolder::AppData); }

  testsupport::TempPrefix prefix_;
};

// An item tree as a short string: folders as "name:[ ... ]", bookmarks as
// their name, each followed by "@order" when it has one.
inline std::string treeString(const xmlNode* container) {
  std::string out;
  for (const xmlNode* item = container ? container->children : nullptr; item; item = item->next) {
    if (item->type != XML_ELEMENT_NODE) continue;
    if (!out.empty()) out += " ";
    out += exchange::childText(item, exchange::kNameElement).value_or("?");
    if (auto order = exchange::attribute(item, exchange::kOrderAttribute)) out += "@" + *order;
    if (exchange::isElement(item, exchange::kFolderElement)) {
      out +=
          ":[ " + treeString(exchange::firstChildElement(item, exchange::kChildrenElement)) + " ]";
    }
  }
  return out;
}

}  // namespace favorites_test
