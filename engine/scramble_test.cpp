#include "engine/scramble.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvex {
namespace {

// Builds a scrambled text from a payload the way the stored layout defines
// it, with every random (odd) bit set: a text an older engine could have
// written.
std::string encodeWithOddBitsSet(const std::string& payload) {
  std::string out;
  for (unsigned char p : payload) {
    unsigned value = 0xAAAA;
    for (int bit = 0; bit < 8; ++bit) {
      if (p & (1u << bit)) value |= 1u << (2 * bit);
    }
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
  }
  return out;
}

// The payload a shift gives for a clear value, without padding.
std::string shiftedPayload(int shift, const std::string& clear) {
  std::string payload(1, static_cast<char>('0' + shift));
  for (char c : std::to_string(clear.size()) + ";" + clear)
    payload.push_back(static_cast<char>(c - shift));
  return payload;
}

TEST(ScrambleTest, RoundTripsWithTheStoredLayout) {
  const std::vector<std::string> values = {
      "",
      "u",
      "username",
      "p@ss;word 42",
      "\xe9t\xe9\xff\x80\xa0",  // bytes above 127, the last one too
      std::string(59, 'x'),
      std::string(60, 'y'),  // header 8 + value 120 = 128: no padding
      std::string(61, 'z'),  // 130 bytes
      std::string(300, '\x7f'),
      std::string("a\0b", 3),
  };
  for (const std::string& clear : values) {
    SCOPED_TRACE("clear value of " + std::to_string(clear.size()) + " bytes");
    const size_t header = 2 * (std::to_string(clear.size()).size() + 2);
    const size_t expected = std::max<size_t>(128, header + 2 * clear.size());
    std::string first = scrambleCredential(clear);
    std::string second = scrambleCredential(clear);
    EXPECT_EQ(first.size(), expected);
    EXPECT_NE(first, second);
    for (unsigned char byte : first) ASSERT_GT(byte, 32) << "every byte is above 32";
    EXPECT_EQ(unscrambleCredential(first), clear);
    EXPECT_EQ(unscrambleCredential(second), clear);
  }
  EXPECT_EQ(scrambleCredential(std::string(60, 'y')).size(), 128u);
  EXPECT_EQ(scrambleCredential(std::string(61, 'z')).size(), 130u);
}

TEST(ScrambleTest, FirstPairCarriesTheShiftDigit) {
  for (int i = 0; i < 50; ++i) {
    std::string text = scrambleCredential("secret");
    unsigned char low = static_cast<unsigned char>(text[0]);
    unsigned char high = static_cast<unsigned char>(text[1]);
    auto even = [](unsigned char b) {
      return (b & 1) | ((b >> 1) & 2) | ((b >> 2) & 4) | ((b >> 3) & 8);
    };
    int digit = even(low) | (even(high) << 4);
    ASSERT_GE(digit, '0');
    ASSERT_LE(digit, '9');
  }
}

TEST(ScrambleTest, ReadsTextsBuiltFromTheLayout) {
  struct Case {
    int shift;
    std::string clear;
    std::string padding;
  };
  const std::vector<Case> cases = {
      {0, "username", "XYZ!!"},
      {9, "\x01\xfe pass", ""},
      {4, "", "padding"},
      {7, std::string(12, ';'), "12;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("shift " + std::to_string(c.shift) + " value " + c.clear);
    EXPECT_EQ(
        unscrambleCredential(encodeWithOddBitsSet(shiftedPayload(c.shift, c.clear) + c.padding)),
        c.clear);
  }
}

TEST(ScrambleTest, MalformedTextsGiveTheEmptyValue) {
  struct Case {
    const char* label;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"empty", ""},
      {"odd length", encodeWithOddBitsSet(shiftedPayload(0, "abc")) + "A"},
      {"single byte", "A"},
      {"no digit first", encodeWithOddBitsSet("x3;abc")},
      {"no ';' after the length", encodeWithOddBitsSet("03abc")},
      {"no length digits", encodeWithOddBitsSet("0;abc")},
      {"length beyond the text", encodeWithOddBitsSet("05;abc")},
      {"huge length", encodeWithOddBitsSet("099999999999999999999999;abc")},
      {"only the shift", encodeWithOddBitsSet("5")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(unscrambleCredential(c.text), "");
  }
}

}  // namespace
}  // namespace corvex
