#include "plugin/favorites/base64.h"

#include <cstdint>

namespace favorites {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int decodeChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    if (rest == 2) out.push_back(kAlphabet[(v >> 6) & 63]);
  }
  return out;
}

bool base64Decode(const std::string& text, std::string* bytes) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  uint32_t group = 0;
  int count = 0;
  for (unsigned char c : text) {
    const int v = decodeChar(c);
    if (v < 0) continue;
    group = (group << 6) | static_cast<uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<char>((group >> 16) & 0xFF));
      out.push_back(static_cast<char>((group >> 8) & 0xFF));
      out.push_back(static_cast<char>(group & 0xFF));
      group = 0;
      count = 0;
    }
  }
  if (count == 1) return false;
  if (count == 2) {
    out.push_back(static_cast<char>((group >> 4) & 0xFF));
  } else if (count == 3) {
    out.push_back(static_cast<char>((group >> 10) & 0xFF));
    out.push_back(static_cast<char>((group >> 2) & 0xFF));
  }
  *bytes = std::move(out);
  return true;
}

}  // namespace favorites
