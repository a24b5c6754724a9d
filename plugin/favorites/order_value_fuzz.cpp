// libFuzzer target: stored "Order" values are outside bytes (any program may
// have written them). Reading must never pass the value's end, and what it
// reads must survive being written and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plugin/favorites/base64.h"
#include "plugin/favorites/order_value.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);
  std::vector<favorites::MenuOrderEntry> entries;
  for (const favorites::StoredPosition& stored : favorites::decodeOrderValue(value)) {
    // File names are at most 255 units; longer ones do not fit the record's
    // 16-bit size field and are never written.
    if (stored.name.empty() || stored.name.size() > 255 ||
        stored.name.find(u'\0') != std::u16string::npos) {
      continue;
    }
    entries.push_back({stored.name, u"", stored.kind, stored.position});
  }
  const std::vector<favorites::StoredPosition> again =
      favorites::decodeOrderValue(favorites::encodeOrderValue(entries));
  if (again.size() != entries.size()) std::abort();
  for (size_t i = 0; i < again.size(); ++i) {
    if (again[i].name != entries[i].longName || again[i].position != entries[i].position) {
      std::abort();
    }
  }
  std::string bytes;
  favorites::base64Decode(value, &bytes);
  return 0;
}
