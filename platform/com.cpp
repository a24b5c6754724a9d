#include "platform/com.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[*pos] into *value.
bool readHex(std::string_view text, size_t* pos, int digits, uint64_t* value) {
  uint64_t v = 0;
  for (int i = 0; i < digits; ++i) {
    if (*pos >= text.size()) return false;
    int h = hexValue(text[*pos]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(h);
    ++*pos;
  }
  *value = v;
  return true;
}

bool expect(std::string_view text, size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

}  // namespace

std::string guidToString(const GUID& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buffer;
}

// {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}: 38 characters.
bool guidFromString(std::string_view text, GUID* guid) {
  if (text.size() != 38) return false;
  GUID g{};
  size_t pos = 0;
  uint64_t v = 0;
  if (!expect(text, &pos, '{') || !readHex(text, &pos, 8, &v)) return false;
  g.Data1 = static_cast<uint32_t>(v);
  if (!expect(text, &pos, '-') || !readHex(text, &pos, 4, &v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!expect(text, &pos, '-') || !readHex(text, &pos, 4, &v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  if (!expect(text, &pos, '-')) return false;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !expect(text, &pos, '-')) return false;
    if (!readHex(text, &pos, 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  if (!expect(text, &pos, '}') || pos != text.size()) return false;
  *guid = g;
  return true;
}

BSTR bstrAlloc(std::u16string_view text) {
  const uint32_t bytes = static_cast<uint32_t>(text.size() * sizeof(OLECHAR));
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, sizeof bytes);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
  if (bytes) std::memcpy(chars, text.data(), bytes);
  chars[text.size()] = 0;
  return chars;
}

void bstrFree(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

uint32_t bstrLength(const OLECHAR* text) {
  if (!text) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof(uint32_t), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

std::u16string bstrToString(const OLECHAR* text) {
  if (!text) return {};
  return std::u16string(text, bstrLength(text));
}

std::string hresultToString(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<uint32_t>(hr));
  return buffer;
}

}  // namespace platform
