// libFuzzer target: base64 text as icons carry it inside a downloaded list.
// Decoding must stay within the text, and what decodes must encode to a text
// that decodes to the same bytes; any bytes must survive encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_prefix.h"
#include "plugin/favorites/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzzsupport::bytesOf(data, size);
  std::string bytes;
  if (favorites::base64Decode(text, &bytes)) {
    if (bytes.size() > text.size()) std::abort();
    std::string again;
    if (!favorites::base64Decode(favorites::base64Encode(bytes), &again) || again != bytes) std::abort();
  }
  std::string back;
  if (!favorites::base64Decode(favorites::base64Encode(text), &back) || back != text) std::abort();
  return 0;
}
