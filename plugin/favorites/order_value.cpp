#include "plugin/favorites/order_value.h"

#include "platform/codepage.h"

namespace favorites {
namespace {

void putU16(std::string* out, size_t offset, uint16_t v) {
  (*out)[offset] = static_cast<char>(v & 0xFF);
  (*out)[offset + 1] = static_cast<char>(v >> 8);
}

void putU32(std::string* out, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putName(std::string* out, size_t offset, const std::u16string& name) {
  for (size_t i = 0; i < name.size(); ++i) putU16(out, offset + 2 * i, name[i]);
}

uint16_t getU16(const std::string& in, size_t offset) {
  return static_cast<uint16_t>(static_cast<unsigned char>(in[offset]) |
                               (static_cast<unsigned char>(in[offset + 1]) << 8));
}

uint32_t getU32(const std::string& in, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[offset + i]);
  return v;
}

// The zero-terminated UTF-16 text at begin, never read past end; true when
// its terminator lies inside the range.
bool readUtf16(const std::string& in, size_t begin, size_t end, std::u16string* text) {
  text->clear();
  for (size_t at = begin; at + 1 < end; at += 2) {
    char16_t unit = getU16(in, at);
    if (unit == 0) return true;
    text->push_back(unit);
  }
  return false;
}

// True when the record [start, start + size) is exactly what
// encodeOrderRecord writes; *name gets its long name.
bool isOwnRecord(const std::string& in, size_t start, uint32_t size, std::u16string* name) {
  if (size < 33) return false;  // at least one unit of name
  const uint16_t kind = getU16(in, start + 10);
  const uint16_t attributes = getU16(in, start + 20);
  const bool folder = kind == kOrderKindFolder;
  if (!folder && kind != kOrderKindFile) return false;
  if (attributes != (folder ? kOrderAttributesFolder : kOrderAttributesFile)) return false;
  if (getU16(in, start + 8) != size - 15) return false;
  for (size_t i = 12; i < 20; ++i) {
    if (in[start + i] != 0) return false;
  }
  const size_t end = start + size;
  std::u16string longName;
  if (!readUtf16(in, start + 22, end, &longName) || longName.empty()) return false;
  size_t afterLong = 22 + 2 * longName.size() + 2;  // relative to start
  size_t shortUnits = 0;
  if (size != 2 * longName.size() + 31) {
    std::u16string shortName;
    if (folder || !readUtf16(in, start + afterLong, end, &shortName) || shortName.empty()) {
      return false;
    }
    shortUnits = shortName.size();
    if (size != 2 * longName.size() + 2 * shortUnits + 31) return false;
  }
  const size_t marker = 2 * longName.size() + 2 * shortUnits + 27;
  const size_t zerosFrom = shortUnits ? afterLong + 2 * shortUnits + 2 : afterLong;
  for (size_t i = zerosFrom; i < size; ++i) {
    const char expected = i == marker ? (folder ? 0x0D : 0x05) : 0;
    if (in[start + i] != expected) return false;
  }
  *name = std::move(longName);
  return true;
}

}  // namespace

uint32_t MenuOrderEntry::recordSize() const {
  const size_t shortUnits = kind == ItemKind::File ? shortName.size() : 0;
  return static_cast<uint32_t>(2 * longName.size() + 2 * shortUnits + 31);
}

std::string encodeOrderRecord(const MenuOrderEntry& entry) {
  const bool folder = entry.kind == ItemKind::Folder;
  const uint32_t size = entry.recordSize();
  const size_t longUnits = entry.longName.size();
  const size_t shortUnits = folder ? 0 : entry.shortName.size();
  std::string out(size, '\0');
  putU32(&out, 0, size);
  putU32(&out, 4, static_cast<uint32_t>(entry.position));
  putU16(&out, 8, static_cast<uint16_t>(size - 15));
  putU16(&out, 10, folder ? kOrderKindFolder : kOrderKindFile);
  putU16(&out, 20, folder ? kOrderAttributesFolder : kOrderAttributesFile);
  putName(&out, 22, entry.longName);
  if (shortUnits > 0) putName(&out, 22 + 2 * longUnits + 2, entry.shortName);
  out[2 * longUnits + 2 * shortUnits + 27] = folder ? 0x0D : 0x05;
  return out;
}

std::string encodeOrderValue(const std::vector<MenuOrderEntry>& records) {
  std::string body;
  for (const MenuOrderEntry& entry : records) body += encodeOrderRecord(entry);
  std::string out(20, '\0');
  putU32(&out, 0, 8);
  putU32(&out, 4, 2);
  putU32(&out, 8, static_cast<uint32_t>(20 + body.size() - 8));
  putU32(&out, 12, 1);
  putU32(&out, 16, static_cast<uint32_t>(records.size()));
  return out + body;
}

std::vector<StoredPosition> decodeOrderValue(const std::string& value) {
  std::vector<StoredPosition> result;
  if (value.size() < 20) return result;
  const uint32_t count = getU32(value, 16);
  size_t start = 20;
  for (uint32_t read = 0; read < count && start < value.size(); ++read) {
    if (value.size() - start < 4) break;
    const uint32_t size = getU32(value, start);
    if (size == 0 || size > value.size() - start) break;
    const size_t end = start + size;
    if (size >= 22) {
      StoredPosition stored;
      stored.position = static_cast<int32_t>(getU32(value, start + 4));
      const uint16_t kind = getU16(value, start + 10);
      stored.kind =
          getU16(value, start + 20) == kOrderAttributesFolder ? ItemKind::Folder : ItemKind::File;
      if (!isOwnRecord(value, start, size, &stored.name) && start + 44 < end) {
        if (kind == kOrderKindFolder || kind == kOrderKindFile) {
          readUtf16(value, start + 44, end, &stored.name);
        } else {
          std::string ansi;
          for (size_t at = start + 44; at < end && value[at] != 0; ++at) ansi.push_back(value[at]);
          stored.name = platform::ansiToUtf16(ansi);
        }
      }
      result.push_back(std::move(stored));
    }
    start = end;
  }
  return result;
}

}  // namespace favorites
