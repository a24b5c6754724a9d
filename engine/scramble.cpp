#include "engine/scramble.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <type_traits>

namespace corvex {
namespace {

constexpr size_t kTargetLength = 128;

class Generator {
 public:
  uint32_t next() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!seeded_) {
      auto now = std::chrono::system_clock::now().time_since_epoch();
      engine_.seed(
          static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
      seeded_ = true;
    }
    return static_cast<uint32_t>(engine_());
  }

 private:
  std::mutex mutex_;
  std::mt19937 engine_;
  bool seeded_ = false;
};

// No destructor runs for it (settings files written at unload still
// scramble), and no heap copy is left behind when the library is unloaded.
static_assert(std::is_trivially_destructible_v<Generator>);

Generator& generator() {
  static Generator instance;
  return instance;
}

void encodeByte(uint8_t payload, std::string* out) {
  Generator& random = generator();
  uint16_t value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (payload & (1u << bit)) value |= static_cast<uint16_t>(1u << (2 * bit));
    if (random.next() & 1u) value |= static_cast<uint16_t>(1u << (2 * bit + 1));
  }
  if ((value & 0xFF) <= 32) value |= 0x0080;
  if ((value >> 8) <= 32) value |= 0x8000;
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>(value >> 8));
}

// Bits 0, 2, 4 and 6 of a byte, packed into bits 0..3.
uint8_t evenBits(uint8_t byte) {
  return static_cast<uint8_t>((byte & 0x01) | ((byte >> 1) & 0x02) | ((byte >> 2) & 0x04) |
                              ((byte >> 3) & 0x08));
}

}  // namespace

std::string scrambleCredential(const std::string& clear) {
  const uint8_t shift = static_cast<uint8_t>(generator().next() % 10);
  const std::string length = std::to_string(clear.size());

  std::string out;
  out.reserve(std::max(kTargetLength, 2 * (length.size() + 2 + clear.size())));
  encodeByte(static_cast<uint8_t>('0' + shift), &out);
  for (char digit : length) encodeByte(static_cast<uint8_t>(digit - shift), &out);
  encodeByte(static_cast<uint8_t>(';' - shift), &out);

  size_t target = kTargetLength;
  if (out.size() + 2 * clear.size() > target) target = out.size() + 2 * clear.size();
  for (char byte : clear)
    encodeByte(static_cast<uint8_t>(static_cast<uint8_t>(byte) - shift), &out);
  while (out.size() < target) encodeByte(static_cast<uint8_t>(generator().next() % 90 + 33), &out);
  return out;
}

std::string unscrambleCredential(const std::string& scrambled) {
  if (scrambled.empty() || scrambled.size() % 2 != 0) return std::string();

  std::string payload;
  payload.reserve(scrambled.size() / 2);
  for (size_t i = 0; i < scrambled.size(); i += 2) {
    uint8_t low = evenBits(static_cast<uint8_t>(scrambled[i]));
    uint8_t high = evenBits(static_cast<uint8_t>(scrambled[i + 1]));
    payload.push_back(static_cast<char>(low | (high << 4)));
  }

  const char first = payload[0];
  if (first < '0' || first > '9') return std::string();
  const uint8_t shift = static_cast<uint8_t>(first - '0');
  for (size_t i = 1; i < payload.size(); ++i) {
    payload[i] = static_cast<char>(static_cast<uint8_t>(payload[i]) + shift);
  }

  // The length digits run from index 1 up to the first ';'.
  size_t pos = 1;
  size_t length = 0;
  while (pos < payload.size() && payload[pos] >= '0' && payload[pos] <= '9') {
    length = length * 10 + static_cast<size_t>(payload[pos] - '0');
    if (length > payload.size()) return std::string();
    ++pos;
  }
  if (pos == 1 || pos >= payload.size() || payload[pos] != ';') return std::string();
  ++pos;
  if (length > payload.size() - pos) return std::string();
  return payload.substr(pos, length);
}

}  // namespace corvex
