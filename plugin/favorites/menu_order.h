// The browser's stored menu order of the Favorites folders: one binary value
// "Order" (plugin/favorites/order_value.h) per folder, below
// HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Favorites
// followed by the folder's relative path.
//
// A synchronisation run reads positions through lookupPosition and, when it
// rebuilds the Favorites folder, records every item it writes with addEntry;
// flushMenuOrders at the end of the run stores the orders and empties the
// cache. The cache is process-wide and unlocked: runs are kept apart by the
// run mutex.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugin/favorites/order_value.h"

namespace favorites {

// The registry key of a folder's order: the base key, followed by the
// relative path ("\News\Daily"), in UTF-8.
std::string menuOrderKeyPath(const std::u16string& relativePath);

class MenuOrderFolder {
 public:
  explicit MenuOrderFolder(std::u16string relativePath);

  const std::u16string& relativePath() const { return relativePath_; }
  bool loaded() const { return loaded_; }

  // The stored position of a name (file names with their extension), -1 when
  // the stored order does not hold it. Loads the stored value first when it
  // has not been read yet. Names compare without case (ASCII letters).
  int32_t lookupPosition(const std::u16string& name, ItemKind kind);

  // Records an item to write. A position of 0 or more takes that slot (a
  // previous entry in the slot is dropped); a negative one appends the entry
  // to the items without a position.
  void addEntry(const std::u16string& longName, const std::u16string& shortName, ItemKind kind,
                int32_t position);

  // Reads the stored value into the position maps; loaded() tells whether it
  // could be read.
  void loadOrder();
  // Stores the recorded entries (nothing when there are none, and the stored
  // value stays as it was). Silently skipped when the key cannot be written.
  void saveOrder();

  // The value saveOrder stores: the entries without a position are given
  // the next positions, all are sorted by position and renumbered 0, 1, 2...,
  // then put folders first and by name without case. Empty when there are no
  // entries. Moves the unpositioned entries to the positioned ones.
  std::string buildOrderValue();

 private:
  std::u16string relativePath_;
  bool loaded_ = false;
  std::map<std::u16string, int32_t> filePositions_;
  std::map<std::u16string, int32_t> folderPositions_;
  // Keyed by position: a sparse stand-in for an array indexed by position,
  // so that a document's large numbers cost no memory.
  std::map<int32_t, MenuOrderEntry> positionedEntries_;
  std::vector<MenuOrderEntry> unpositionedEntries_;
};

// relativePath (exact comparison) -> the folder's menu order.
using MenuOrderCache = std::map<std::u16string, std::unique_ptr<MenuOrderFolder>>;

// The cached object of a folder, created when missing; null when it cannot
// be created (callers then skip the menu-order work).
MenuOrderFolder* menuOrderFor(const std::u16string& relativePath);

// Stores every cached folder's order, in key order, and empties the cache.
void flushMenuOrders();

// Drops the cache without storing anything.
void discardMenuOrders();

}  // namespace favorites
