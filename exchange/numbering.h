// Position numbers (`order` attributes): reading and writing them, ordering the
// items of a container, and turning per-container numbers into one sequence
// through all levels.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>

namespace exchange {

// The `order` attribute read with C atoi rules (leading white space, sign and
// digits; anything else gives 0), or `absent` when the element has none.
// Numbers beyond the 32-bit range read as its nearest limit.
int32_t orderValue(const xmlNode* element, int32_t absent = -1);
// The attribute text of a number, as atoi would read it.
int32_t parseOrder(const char* text);
// Sets the `order` attribute to the number in decimal; numbers beyond the
// 32-bit range are written as its nearest limit.
void setOrder(xmlNode* element, int64_t value);

// Rewrites the `order` of the container's items, through all levels, to
// 0, 1, 2 ... in the order of (old number, absent first; then name compared
// case-insensitively in the ANSI code page). Items that share kind and
// converted name all receive the number of the first of them. Equal keys keep
// document order. The document order of the elements does not change.
void orderContainer(xmlNode* container);

// Adds `base` (when above 0) to every non-negative number of the container,
// moves the numbers after each numbered folder up by the folder's item count,
// and recurses into each numbered folder with the folder's number + 1 as base.
// For a container numbered 0 ... n-1 at every level (as orderContainer leaves
// it) this gives every item its position in a depth-first pre-order walk of
// the whole list. Returns the highest number seen or given, -1 when none.
int32_t renumberOrders(xmlNode* container, int32_t base);

}  // namespace exchange
