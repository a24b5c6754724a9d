#include "plugin/favorites/item_nodes.h"

#include <climits>
#include <optional>

#include "exchange/document.h"

namespace favorites {

int32_t parseDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

int32_t orderOf(const xmlNode* item) {
  std::optional<std::string> text = exchange::attribute(item, exchange::kOrderAttribute);
  return text ? parseDecimal(*text) : -1;
}

void setOrder(xmlNode* item, int32_t order) {
  exchange::setAttribute(item, exchange::kOrderAttribute, std::to_string(order));
}

bool isSafeItemName(const std::u16string& name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  return name.find_first_of(std::u16string(u"/\\\0", 3)) == std::u16string::npos;
}

}  // namespace favorites
