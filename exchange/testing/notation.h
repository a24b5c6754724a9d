// A short notation for bookmark lists, for tests and benchmarks:
//
//   a#0=http://a/~note  f#1:[ b c ]  g:!  |  *
//
// Items are separated by white space. A bookmark is its name followed by
// optional "#order" (the attribute text as it stands, so "#07" and "#7abc"
// are possible), "=link" and "~description". A folder is written the same way
// and ends in ":[" (its `children` follow, closed by a lone "]") or in ":!"
// (a folder without a `children` element). "|" is a separator ("|#3" with an
// order); "?kind" is an empty element of any other kind. The name "*" stands for an item without a
// `name` element. Names, links and descriptions hold no white space and none of "#=~:[]|".
#pragma once

#include <libxml/tree.h>

#include <string>

#include "exchange/xml_owners.h"

namespace exchange::testing {

// A `bookmarks` root (belonging to no document) holding the items, or null
// when the notation is malformed.
UniqueXmlNode parseList(const std::string& notation);

// The notation of a container's items; elements of other kinds appear as
// "?name". The `order` of every item is shown when present.
std::string describeList(const xmlNode* container);

}  // namespace exchange::testing
