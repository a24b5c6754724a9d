#include "exchange/order_names.h"

#include <map>
#include <memory>
#include <mutex>

#include "exchange/list_ops.h"
#include "platform/codepage.h"

namespace exchange {
namespace {

// The simple lower-case mapping of the letters the single-byte ANSI code pages
// hold: Latin (Basic, Latin-1, Extended-A), Greek and Cyrillic. Other scripts
// of those code pages have no case.
char16_t lowerCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 0x20;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x130) return u'i';
  if (c == 0x178) return 0xFF;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x490 && c <= 0x4BF) return c | 1;
  return c;
}

using FoldTable = std::array<unsigned char, 256>;

// The fold table of a code page: every byte that stands alone for an upper-case
// letter maps to the byte of its lower-case letter, when the code page has it.
// Bytes that do not convert alone (lead bytes of double-byte code pages) fold
// to themselves.
std::unique_ptr<FoldTable> buildFoldTable(unsigned codePage) {
  auto table = std::make_unique<FoldTable>();
  for (int b = 0; b < 256; ++b) (*table)[b] = static_cast<unsigned char>(b);
  for (int b = 'A'; b <= 'Z'; ++b) (*table)[b] = static_cast<unsigned char>(b + 0x20);
  for (int b = 0x80; b < 256; ++b) {
    std::u16string wide =
        platform::multiByteToUtf16(codePage, std::string(1, static_cast<char>(b)));
    if (wide.size() != 1 || wide[0] == 0xFFFD) continue;
    char16_t lower = lowerCase(wide[0]);
    if (lower == wide[0]) continue;
    std::string back = platform::utf16ToMultiByte(codePage, std::u16string(1, lower));
    if (back.size() != 1) continue;
    // Only a true counterpart: the lower-case byte must convert back to the
    // lower-case letter (not to the code page's default character).
    if (platform::multiByteToUtf16(codePage, back) != std::u16string(1, lower)) continue;
    (*table)[b] = static_cast<unsigned char>(back[0]);
  }
  return table;
}

const FoldTable* foldTable(unsigned codePage) {
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<FoldTable>> tables;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<FoldTable>& table = tables[codePage];
  if (!table) table = buildFoldTable(codePage);
  return table.get();
}

}  // namespace

OrderNames::OrderNames() : fold_(foldTable(platform::ansiCodePage())) {}

std::string OrderNames::entryName(const xmlNode* item) const {
  std::optional<std::string> name = itemName(item);
  if (!name || name->empty()) return std::string();
  return platform::utf16ToAnsi(platform::utf8ToUtf16(*name));
}

int OrderNames::compare(const std::string& a, const std::string& b) const {
  const FoldTable& fold = *fold_;
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = fold[static_cast<unsigned char>(a[i])];
    unsigned char y = fold[static_cast<unsigned char>(b[i])];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace exchange
