// regsvr32 with the real plug-in: what registration writes and
// unregistration removes, read back with reg, and the browser finding the
// plug-in through exactly those keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostRun;

constexpr char kExtensionKey[] =
    "HKLM\\Software\\Microsoft\\Internet Explorer\\Extensions\\{47685814-18BB-4659-8245-14A9C9EBDD76}";
constexpr char kHelperKey[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper "
    "Objects\\{EF341F91-4715-46E2-B0AF-724E3225E52E}";
constexpr char kClassKey[] = "HKCR\\CLSID\\{EF341F91-4715-46E2-B0AF-724E3225E52E}";

std::string hexBytes(const std::string& text) {
  std::string hex;
  char byte[4];
  for (unsigned char c : text) {
    std::snprintf(byte, sizeof byte, "%02x,", c);
    hex += byte;
  }
  if (!hex.empty()) hex.pop_back();
  return hex;
}

std::vector<std::string> exported(const testsupport::HostComputer& pc, const std::string& key) {
  const std::filesystem::path file = pc.prefix() / "export.reg";
  HostRun run = pc.reg({"export", key, file.string(), "/y"});
  if (run.exitCode != 0) return {"<missing>"};
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

class PluginRegistrationTest : public PluginE2ETest {};

TEST_F(PluginRegistrationTest, RegisterWritesTheKeysAndUnregisterTakesThemBack) {
  testsupport::HostComputer pc;
  const std::string library = (testsupport::binaryDir() / "libBookmark.so").string();
  HostRun registered = pc.registerPlugin();
  ASSERT_EQ(registered.exitCode, 0) << registered.joined();

  // The extension's values in their order; the last five without their
  // terminating zero (reg shows such strings as hex(1) bytes).
  EXPECT_EQ(exported(pc, kExtensionKey),
            (Names{"Windows Registry Editor Version 5.00",
                   std::string("[") + "HKEY_LOCAL_MACHINE" + (kExtensionKey + 4) + "]",
                   "\"CLSID\"=\"{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}\"", "\"Default Visible\"=\"Yes\"",
                   "\"ClsidExtension\"=\"{EF341F91-4715-46E2-B0AF-724E3225E52E}\"",
                   "\"ButtonText\"=hex(1):" + hexBytes("Favorites"), "\"MenuText\"=hex(1):" + hexBytes("Favorites"),
                   "\"MenuStatusBar\"=hex(1):" + hexBytes("Work with favorites"),
                   "\"HotIcon\"=hex(1):" + hexBytes(library + ",201"),
                   "\"Icon\"=hex(1):" + hexBytes(library + ",202")}));
  EXPECT_EQ(exported(pc, kHelperKey),
            (Names{"Windows Registry Editor Version 5.00",
                   std::string("[") + "HKEY_LOCAL_MACHINE" + (kHelperKey + 4) + "]"}));

  HostRun classes = pc.reg({"query", kClassKey, "/s"});
  ASSERT_EQ(classes.exitCode, 0);
  for (const std::string& expected :
       {std::string("(Default)    REG_SZ    IEBookmark Class"),
        std::string("AppID    REG_SZ    {B161E308-975D-4B52-979D-04A51343460E}"),
        std::string("(Default)    REG_SZ    Bookmark.IEBookmark.1"), std::string("(Default)    REG_SZ    Bookmark.IEBookmark"),
        "(Default)    REG_SZ    " + library, std::string("ThreadingModel    REG_SZ    Apartment"),
        std::string("(Default)    REG_SZ    {00171FCE-DD4F-49F3-838D-4811A098A77D}")}) {
    SCOPED_TRACE(expected);
    EXPECT_TRUE(classes.has(expected)) << classes.joined();
  }
  const struct {
    const char* key;
    const char* line;
  } others[] = {
      {"HKCR\\AppID\\{B161E308-975D-4B52-979D-04A51343460E}", "(Default)    REG_SZ    Bookmark"},
      {"HKCR\\AppID\\Bookmark.DLL", "AppID    REG_SZ    {B161E308-975D-4B52-979D-04A51343460E}"},
      {"HKCR\\Bookmark.IEBookmark.1\\CLSID", "(Default)    REG_SZ    {EF341F91-4715-46E2-B0AF-724E3225E52E}"},
      {"HKCR\\Bookmark.IEBookmark\\CurVer", "(Default)    REG_SZ    Bookmark.IEBookmark.1"},
      {"HKCR\\TypeLib\\{00171FCE-DD4F-49F3-838D-4811A098A77D}\\1.0", "(Default)    REG_SZ    Bookmark 1.0 Type Library"},
      {"HKCR\\Interface\\{0A4A72D2-FB81-440A-9C76-AEA8B88D0DCC}", "(Default)    REG_SZ    IIEBookmark"},
  };
  for (const auto& row : others) {
    SCOPED_TRACE(row.key);
    EXPECT_TRUE(pc.reg({"query", row.key}).has(row.line));
  }

  HostRun unregistered = pc.registerPlugin(true);
  ASSERT_EQ(unregistered.exitCode, 0) << unregistered.joined();
  for (const char* gone :
       {kExtensionKey, kHelperKey, kClassKey, "HKCR\\Bookmark.IEBookmark.1", "HKCR\\Bookmark.IEBookmark",
        "HKCR\\AppID\\{B161E308-975D-4B52-979D-04A51343460E}", "HKCR\\AppID\\Bookmark.DLL",
        "HKCR\\TypeLib\\{00171FCE-DD4F-49F3-838D-4811A098A77D}", "HKCR\\Interface\\{0A4A72D2-FB81-440A-9C76-AEA8B88D0DCC}",
        "HKCR\\CLSID\\{0A4A72D2-FB81-440A-9C76-AEA8B88D0DCC}"}) {
    SCOPED_TRACE(gone);
    EXPECT_NE(pc.reg({"query", gone}).exitCode, 0);
  }
  // The parents stay.
  EXPECT_EQ(pc.reg({"query", "HKCR\\AppID"}).exitCode, 0);
  EXPECT_EQ(pc.reg({"query", "HKCR\\CLSID"}).exitCode, 0);

  HostRun again = pc.registerPlugin(true);
  EXPECT_EQ(again.exitCode, 5);
  EXPECT_TRUE(again.has("Return code was: 0x80040201")) << again.joined();
}

TEST_F(PluginRegistrationTest, TheBrowserFindsThePluginThroughItsRegistration) {
  testsupport::HostComputer pc;
  HostRun before = pc.runHost("open\nquit\n");
  EXPECT_EQ(before.count("object create"), 0u) << before.joined();

  ASSERT_EQ(pc.registerPlugin().exitCode, 0);
  HostRun run = pc.runHost("open\nopen\nquit\n");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_EQ(run.count("library load path=\"" + (testsupport::binaryDir() / "libBookmark.so").string()), 1u)
      << run.joined();
  EXPECT_EQ(run.count("role=helper clsid={EF341F91-4715-46E2-B0AF-724E3225E52E} result=0x00000000"), 2u)
      << run.joined();
  EXPECT_EQ(run.count("button window=1 text=\"Favorites\" visible=1 clsid={EF341F91-4715-46E2-B0AF-724E3225E52E}"), 1u)
      << run.joined();
  EXPECT_FALSE(run.has("site leaked")) << run.joined();
  EXPECT_TRUE(run.has("canunloadnow=0x00000000")) << run.joined();
}

}  // namespace
}  // namespace plugintest
