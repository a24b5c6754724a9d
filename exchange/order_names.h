// Names as the ordering steps compare them: the item's name converted from
// UTF-8 by way of UTF-16 to the ANSI code page (characters the code page
// cannot hold become its default character), and one case-insensitive
// comparison of such names. Every step that sorts by name uses this class, so
// that all of them agree.
#pragma once

#include <libxml/tree.h>

#include <array>
#include <string>

namespace exchange {

class OrderNames {
 public:
  // For the ANSI code page in effect.
  OrderNames();

  // The converted name of an item; an item without a name gives "".
  std::string entryName(const xmlNode* item) const;

  // Case-insensitive three-way comparison of two converted names: each byte
  // is folded to its lower-case counterpart in the code page, then the
  // folded bytes are compared as unsigned values.
  int compare(const std::string& a, const std::string& b) const;
  bool less(const std::string& a, const std::string& b) const { return compare(a, b) < 0; }

 private:
  const std::array<unsigned char, 256>* fold_;
};

}  // namespace exchange
