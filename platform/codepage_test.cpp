#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

TEST(CodePage, Utf8RoundTripsThroughUtf16) {
  const std::string texts[] = {"", "plain", "Gr\xC3\xBC\xC3\x9F" "e", "\xE2\x82\xAC 5",
                               "\xF0\x9F\x94\x96 bookmark"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(text)), text);
  }
  EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x94\x96"), std::u16string({0xD83D, 0xDD16}));
}

TEST(CodePage, InvalidInputIsReplaced) {
  struct Row {
    std::string utf8;
    std::u16string utf16;
  } rows[] = {
      {"a\xFF" "b", u"a\uFFFDb"},
      {"a\xC3", u"a\uFFFD"},                  // truncated sequence
      {"\xC0\xAF", u"\uFFFD\uFFFD"},          // overlong "/"
      {"\xED\xA0\x80x", u"\uFFFDx"},          // encoded surrogate
      {"\xE2\x82z", u"\uFFFDz"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.utf8);
    EXPECT_EQ(utf8ToUtf16(row.utf8), row.utf16);
  }
  EXPECT_EQ(utf16ToUtf8(std::u16string({u'a', 0xD800, u'b'})), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(utf16ToMultiByte(1252, std::u16string({u'a', 0xDC00, u'b'})), "a?b");
}

TEST(CodePage, ConvertsTheWindowsCodePages) {
  struct Row {
    unsigned codePage;
    std::string bytes;
    std::u16string text;
  } rows[] = {
      {1252, "caf\xE9 \x80", u"caf\u00E9 \u20AC"},
      {1251, "\xCF\xF0\xE8", u"\u041F\u0440\u0438"},
      {1250, "\x8A\x9A\xB9", u"\u0160\u0161\u0105"},
      {932, "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
      {936, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
      {65001, "\xC3\xA9", u"\u00E9"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.codePage);
    EXPECT_EQ(multiByteToUtf16(row.codePage, row.bytes), row.text);
    EXPECT_EQ(utf16ToMultiByte(row.codePage, row.text), row.bytes);
  }
}

TEST(CodePage, UnmappableCharactersBecomeTheDefaultCharacter) {
  EXPECT_EQ(utf16ToMultiByte(1252, u"a\u041Fb"), "a?b");
  EXPECT_EQ(utf16ToMultiByte(1252, u"\U0001F516x"), "?x");  // one "?" for a surrogate pair
  EXPECT_EQ(utf16ToMultiByte(1251, u"\u00E9"), "?");
  // Bytes that the code page leaves undefined map as Windows maps them.
  EXPECT_EQ(multiByteToUtf16(1252, "\x81"), u"\u0081");
  EXPECT_EQ(utf16ToMultiByte(1252, u"\u0081"), "\x81");
  EXPECT_EQ(multiByteToUtf16(932, "a\x81"), u"a\uFFFD");  // lead byte without trail
}

TEST(CodePage, AnsiCodePageComesFromTheEnvironment) {
  testsupport::TempPrefix prefix;
  unsetenv("QUORVANE_CODEPAGE");
  EXPECT_EQ(ansiCodePage(), 1252u);
  EXPECT_EQ(ansiToUtf16("\xE9"), u"\u00E9");
  setenv("QUORVANE_CODEPAGE", "1251", 1);
  EXPECT_EQ(ansiCodePage(), 1251u);
  EXPECT_EQ(ansiToUtf16("\xE9"), u"\u0439");
  EXPECT_EQ(utf16ToAnsi(u"\u0439"), "\xE9");
  setenv("QUORVANE_CODEPAGE", "bogus", 1);
  EXPECT_EQ(ansiCodePage(), 1252u);
  unsetenv("QUORVANE_CODEPAGE");
}

// A library's finalisers convert texts after the thread's thread-local
// destructors ran (the engine writes its settings file at process exit).
TEST(CodePage, ConvertsAfterTheThreadsCacheIsGone) {
  std::string late;
  std::thread([&late] {
    struct Late {
      std::string* out;
      ~Late() { *out = multiByteToUtf16(1252, "caf\xE9") == u"caf\u00E9" ? "ok" : "wrong"; }
    };
    thread_local Late probe{&late};  // constructed first, so destroyed last
    (void)probe;
    EXPECT_EQ(multiByteToUtf16(1252, "\xE9"), u"\u00E9");
  }).join();
  EXPECT_EQ(late, "ok");
}

TEST(CodePage, PathsUseBackslashesOnTheUtf16Side) {
  EXPECT_EQ(pathFromUtf16(u"C\\Favorites\\Caf\u00E9.url"),
            std::filesystem::path("C/Favorites/Caf\xC3\xA9.url"));
  EXPECT_EQ(pathToUtf16(std::filesystem::path("/a/b/Caf\xC3\xA9")), u"\\a\\b\\Caf\u00E9");
  EXPECT_EQ(pathFromUtf16(pathToUtf16("/x/y z")), std::filesystem::path("/x/y z"));
  EXPECT_TRUE(nameIsText("Caf\xC3\xA9"));
  EXPECT_FALSE(nameIsText("Caf\xE9"));       // Latin-1, not UTF-8
  EXPECT_FALSE(nameIsText("a\xED\xA0\x80"));  // an encoded surrogate
}

}  // namespace
}  // namespace platform
