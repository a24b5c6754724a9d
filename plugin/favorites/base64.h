// Base64 with the standard alphabet (A-Z, a-z, 0-9, "+", "/"), as icons
// travel inside the exchange document: no "=" padding and no line breaks.
#pragma once

#include <string>

namespace favorites {

std::string base64Encode(const std::string& bytes);

// Characters outside the alphabet (padding, line breaks, spaces) are
// skipped; every four alphabet characters give three bytes and a final group
// of two or three characters one or two bytes. False for a final group of a
// single character, which no encoder produces.
bool base64Decode(const std::string& text, std::string* bytes);

}  // namespace favorites
