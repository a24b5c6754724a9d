// Counting the items of a list text without building its tree, so that a
// list too long to synchronise is refused before it costs the memory of a
// parsed list (about 0.85 KB per bookmark).
//
// Items are the element children of the containers: the root element and
// the first `children` element of every folder item (the rule of the first
// child by name, as every reader of a list applies it). Elements elsewhere
// (a bookmark's `name`, a second `children`) are not items.
#pragma once

#include <cstddef>
#include <limits>
#include <string_view>

namespace exchange {

// The most items a list may hold to be synchronised.
inline constexpr size_t kMaxListItems = 300000;

// How the text reaches the parser that reads it afterwards.
enum class ControlBytes {
  Keep,  // as it is, up to its first zero byte (parseDocumentText)
  Drop,  // every byte below 0x20 removed first (a downloaded list)
};

// The number of items in the text, read as the parser would read it, or
// stopAfter + 1 once more than stopAfter are found (the rest is not read).
// Counting stops quietly where the text stops being well-formed; the items
// before that point are counted, and the parse that follows reports the
// error.
size_t countListItems(std::string_view text, ControlBytes controlBytes,
                      size_t stopAfter = std::numeric_limits<size_t>::max() - 1);

// True when the text holds more than kMaxListItems items.
bool exceedsItemLimit(std::string_view text, ControlBytes controlBytes);

}  // namespace exchange
