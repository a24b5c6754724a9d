#include "platform/com.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

constexpr GUID kBookmarkClass = {
    0xEF341F91, 0x4715, 0x46E2, {0xB0, 0xAF, 0x72, 0x4E, 0x32, 0x25, 0xE5, 0x2E}};

TEST(GuidTest, FormatsUpperCaseWithBraces) {
  EXPECT_EQ(guidToString(kBookmarkClass), "{EF341F91-4715-46E2-B0AF-724E3225E52E}");
  EXPECT_EQ(guidToString(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
}

TEST(GuidTest, Parses) {
  struct Row {
    const char* text;
    bool ok;
  } rows[] = {
      {"{EF341F91-4715-46E2-B0AF-724E3225E52E}", true},
      {"{ef341f91-4715-46e2-b0af-724e3225e52e}", true},
      {"EF341F91-4715-46E2-B0AF-724E3225E52E", false},
      {"{EF341F91-4715-46E2-B0AF-724E3225E52E", false},
      {"{EF341F91-4715-46E2-B0AF-724E3225E52E}x", false},
      {"{EF341F91-4715-46E2-B0AF724E-3225E52E}", false},
      {"{EF341F9G-4715-46E2-B0AF-724E3225E52E}", false},
      {"{EF341F91+4715-46E2-B0AF-724E3225E52E}", false},
      {"", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    GUID parsed = CLSID_NULL;
    EXPECT_EQ(guidFromString(row.text, &parsed), row.ok);
    EXPECT_EQ(parsed == kBookmarkClass, row.ok);
  }
  GUID toolbar{};
  ASSERT_TRUE(guidFromString("{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}", &toolbar));
  EXPECT_EQ(guidToString(toolbar), "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}");
}

TEST(ComTest, BstrKeepsLengthAndResultCodesPrint) {
  BSTR text = bstrAlloc(u"http://x/\u00e9");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(bstrLength(text), 10u);
  EXPECT_EQ(bstrToString(text), u"http://x/\u00e9");
  EXPECT_EQ(text[10], 0);
  bstrFree(text);
  EXPECT_EQ(bstrLength(nullptr), 0u);
  bstrFree(nullptr);
  EXPECT_EQ(hresultToString(SELFREG_E_CLASS), "0x80040201");
  EXPECT_EQ(hresultToString(S_OK), "0x00000000");
  EXPECT_TRUE(hresultFailed(E_FAIL));
  EXPECT_TRUE(hresultSucceeded(S_FALSE));
}

}  // namespace
}  // namespace platform
