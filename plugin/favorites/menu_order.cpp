#include "plugin/favorites/menu_order.h"

#include <algorithm>
#include <new>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace favorites {
namespace {

constexpr char kMenuOrderKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";
constexpr char kOrderValueName[] = "Order";

std::u16string asciiLower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

// Case-insensitive order of UTF-16 names: ASCII and Latin-1 letters fold.
char16_t foldUnit(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c - u'A' + u'a');
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
  return c;
}

bool lessWithoutCase(const std::u16string& a, const std::u16string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = foldUnit(a[i]);
    const char16_t y = foldUnit(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

MenuOrderCache& cache() {
  static MenuOrderCache instance;
  return instance;
}

}  // namespace

std::string menuOrderKeyPath(const std::u16string& relativePath) {
  return std::string(kMenuOrderKey) + platform::utf16ToUtf8(relativePath);
}

MenuOrderFolder::MenuOrderFolder(std::u16string relativePath)
    : relativePath_(std::move(relativePath)) {}

int32_t MenuOrderFolder::lookupPosition(const std::u16string& name, ItemKind kind) {
  if (!loaded_) loadOrder();
  const auto& positions = kind == ItemKind::Folder ? folderPositions_ : filePositions_;
  auto it = positions.find(asciiLower(name));
  return it == positions.end() ? -1 : it->second;
}

void MenuOrderFolder::addEntry(const std::u16string& longName, const std::u16string& shortName,
                               ItemKind kind, int32_t position) {
  MenuOrderEntry entry;
  entry.longName = longName;
  if (kind == ItemKind::File) entry.shortName = shortName;
  entry.kind = kind;
  entry.position = position;
  if (position >= 0) {
    positionedEntries_[position] = std::move(entry);
  } else {
    unpositionedEntries_.push_back(std::move(entry));
  }
}

void MenuOrderFolder::loadOrder() {
  filePositions_.clear();
  folderPositions_.clear();
  loaded_ = false;
  platform::RegKey key;
  if (platform::RegKey::open(platform::RegRoot::CurrentUser, menuOrderKeyPath(relativePath_),
                             &key) != platform::kOk) {
    return;
  }
  platform::RegValue value;
  const platform::Status status = key.readValue(kOrderValueName, &value);
  key.close();
  if (status != platform::kOk || value.type != platform::kRegBinary || value.data.empty()) return;
  for (StoredPosition& stored : decodeOrderValue(value.data)) {
    auto& positions = stored.kind == ItemKind::Folder ? folderPositions_ : filePositions_;
    positions[asciiLower(stored.name)] = stored.position;
  }
  loaded_ = true;
}

std::string MenuOrderFolder::buildOrderValue() {
  struct Slot {
    int64_t sortKey;
    size_t arrival;
    MenuOrderEntry* entry;
  };
  std::vector<Slot> slots;
  int64_t n = 0;
  for (auto& [position, entry] : positionedEntries_) {
    slots.push_back({position, slots.size(), &entry});
    ++n;
  }
  std::vector<MenuOrderEntry> unpositioned = std::move(unpositionedEntries_);
  unpositionedEntries_.clear();
  for (MenuOrderEntry& entry : unpositioned) {
    slots.push_back({n, slots.size(), &entry});
    ++n;
  }
  if (slots.empty()) return std::string();
  // Dense renumbering keeps the relative order of the positions given. An
  // entry without one sorts at the count of positioned entries, so it lands
  // after them only when their positions were already dense.
  std::stable_sort(slots.begin(), slots.end(),
                   [](const Slot& a, const Slot& b) { return a.sortKey < b.sortKey; });
  std::vector<MenuOrderEntry> records;
  records.reserve(slots.size());
  for (size_t i = 0; i < slots.size(); ++i) {
    MenuOrderEntry entry = *slots[i].entry;
    entry.position = static_cast<int32_t>(i);
    records.push_back(std::move(entry));
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const MenuOrderEntry& a, const MenuOrderEntry& b) {
                     if (a.kind != b.kind) return a.kind == ItemKind::Folder;
                     return lessWithoutCase(a.longName, b.longName);
                   });
  // The unpositioned entries now hold positions; keep them as positioned.
  positionedEntries_.clear();
  for (const MenuOrderEntry& entry : records) positionedEntries_[entry.position] = entry;
  return encodeOrderValue(records);
}

void MenuOrderFolder::saveOrder() {
  if (positionedEntries_.empty() && unpositionedEntries_.empty()) return;
  platform::RegKey key;
  if (platform::RegKey::create(platform::RegRoot::CurrentUser, menuOrderKeyPath(relativePath_),
                               &key) != platform::kOk) {
    return;
  }
  const std::string value = buildOrderValue();
  key.setValue(kOrderValueName, platform::kRegBinary, value.data(),
               static_cast<uint32_t>(value.size()));
  key.close();
}

MenuOrderFolder* menuOrderFor(const std::u16string& relativePath) {
  try {
    MenuOrderCache& folders = cache();
    auto it = folders.find(relativePath);
    if (it == folders.end()) {
      it = folders.emplace(relativePath, std::make_unique<MenuOrderFolder>(relativePath)).first;
    }
    return it->second.get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void flushMenuOrders() {
  MenuOrderCache folders = std::move(cache());
  cache().clear();
  for (auto& [path, folder] : folders) {
    try {
      folder->saveOrder();
    } catch (const std::bad_alloc&) {
      // An allocation failure skips this folder's value, as a failing key does.
    }
    folder.reset();
  }
}

void discardMenuOrders() { cache().clear(); }

}  // namespace favorites
