// Splitting and decoding of request targets and form bodies.
//
// The engine writes its query without escaping the parameters itself; its URI
// library only percent-encodes bytes outside the URI character sets and leaves
// "&", "=", "+" and "/" as they are. So a query is split at every "&", each
// pair at its first "=", and only percent escapes are decoded: a "+" stays a
// plus sign (a password may hold one). Form bodies posted by browsers are
// different: there "+" stands for a space.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service {

// Parameters in the order they were written; keys may repeat.
using Params = std::vector<std::pair<std::string, std::string>>;

// Decodes "%XX" escapes (either case). A "%" not followed by two hexadecimal
// digits is kept literally. With plusIsSpace, "+" becomes a space.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// Splits "a=1&b=2" into pairs. Empty pieces ("a=1&&b=2") are skipped; a piece
// without "=" is a key with an empty value.
Params parseParams(std::string_view text, bool plusIsSpace);

// The value of the first parameter called key, or none.
std::optional<std::string> firstParam(const Params& params, std::string_view key);

// A request target "/path?query" split into its decoded path and its query
// parameters (decoded with percentDecode, "+" kept).
struct Target {
  std::string path;
  Params params;
};
Target parseTarget(std::string_view target);

}  // namespace service
