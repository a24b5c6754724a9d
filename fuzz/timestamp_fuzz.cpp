// libFuzzer target: time stamp texts from a downloaded list or the cache
// file. A time that reads back as a time must format to a text that reads as
// the same time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "exchange/timestamp.h"
#include "fuzz/fuzz_prefix.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Local time is UTC here: no zone database, no summer time.
  fuzzsupport::fuzzPrefix();
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::time_t time = exchange::parseTimestamp(fuzzsupport::bytesOf(data, size));
  // Years 1 to 9999 keep the four-digit form that reads back.
  constexpr std::time_t kFirst = -62135596800;  // 0001-01-01-00-00-00
  constexpr std::time_t kLast = 253402300799;   // 9999-12-31-23-59-59
  if (time != 0 && time >= kFirst && time <= kLast) {
    const std::string text = exchange::formatTimestamp(time);
    if (text.empty() || exchange::parseTimestamp(text) != time) std::abort();
  }
  return 0;
}
