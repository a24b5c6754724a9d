// The binary "Order" value in which the browser keeps the menu order of one
// Favorites folder, and its records. Pure functions over bytes.
//
// Value, all integers little-endian:
//   0   u32  8
//   4   u32  2
//   8   u32  total size of the value - 8
//   12  u32  1
//   16  u32  number of records n
//   20       n records back to back
//
// Record as written, for a long name of L UTF-16 units and a short name of S
// units (S = 0: no short name, and the short name field is absent):
//   0          u32  record size: 2L + 2S + 31 (2L + 31 without a short name)
//   4          i32  position
//   8          u16  record size - 15
//   10         u16  kind: 0x35 folder, 0x36 file
//   12         8    zero
//   20         u16  attributes: 0x10 folder, 0x20 file
//   22         2L+2 long name, UTF-16, zero-terminated (a file's includes ".url")
//   2L+24      2S+2 short name, UTF-16, zero-terminated (only when S > 0)
//   then zero bytes up to the marker at 2L + 2S + 27: 0x0D folder, 0x05 file
//   2L+2S+28   3    zero
//
// Records the browser writes carry the name at offset 44 instead, in UTF-16
// for kinds 0x35 and 0x36 and in the ANSI code page for any other kind;
// attributes of exactly 0x10 mean a folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace favorites {

enum class ItemKind { File, Folder };

inline constexpr uint16_t kOrderKindFolder = 0x35;
inline constexpr uint16_t kOrderKindFile = 0x36;
inline constexpr uint16_t kOrderAttributesFolder = 0x10;
inline constexpr uint16_t kOrderAttributesFile = 0x20;

// One record to write.
struct MenuOrderEntry {
  std::u16string longName;
  std::u16string shortName;  // empty: none (folders never have one)
  ItemKind kind = ItemKind::File;
  int32_t position = -1;

  // The record's size in bytes.
  uint32_t recordSize() const;
};

// One record read back: the name as stored (not lower-cased).
struct StoredPosition {
  std::u16string name;
  ItemKind kind = ItemKind::File;
  int32_t position = -1;
};

// The record bytes of one entry.
std::string encodeOrderRecord(const MenuOrderEntry& entry);
// The whole value for the records in the order given.
std::string encodeOrderValue(const std::vector<MenuOrderEntry>& records);

// Reads the records of a stored value, as many as its header announces and
// its bytes hold. Reading never passes the end of the value: a record whose
// size is 0 or that runs past the end ends the reading.
//
// The name is taken at offset 44, where the browser's own records carry it.
// A record in exactly the form encodeOrderRecord writes (sizes, kind,
// attributes, names and marker all where that layout puts them) carries its
// name at offset 22 and is read there, so that an order this program stored
// is understood when it reads the folder again.
std::vector<StoredPosition> decodeOrderValue(const std::string& value);

}  // namespace favorites
