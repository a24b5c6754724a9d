#include "plugin/favorites/icons.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "plugin/favorites/base64.h"
#include "plugin/favorites/favorites_test_util.h"

namespace {

using namespace favorites;
using namespace favorites_test;

std::string ansiPath(const fs::path& path) {
  return platform::utf16ToAnsi(platform::pathToUtf16(path));
}

TEST(Base64Test, EncodesWithoutPadding) {
  struct Row {
    std::string bytes;
    std::string text;
  } rows[] = {
      {"", ""},
      {"a", "YQ"},
      {"ab", "YWI"},
      {"abc", "YWJj"},     // three bytes: four characters
      {"abcd", "YWJjZA"},  // four bytes: six
      {std::string("\x00\xff\xfe", 3), "AP/+"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(row.text, base64Encode(row.bytes));
    std::string decoded;
    ASSERT_TRUE(base64Decode(row.text, &decoded));
    EXPECT_EQ(row.bytes, decoded);
  }
}

TEST(Base64Test, DecodingSkipsWhatIsNotInTheAlphabet) {
  std::string decoded;
  ASSERT_TRUE(base64Decode("YW\r\nJj ZA==", &decoded));
  EXPECT_EQ("abcd", decoded);
  EXPECT_FALSE(base64Decode("YWJjZ", &decoded));  // a lone final character
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  ASSERT_TRUE(base64Decode(base64Encode(all), &decoded));
  EXPECT_EQ(all, decoded);
}

TEST(IconsTest, ReadConfigValue) {
  struct Row {
    const char* text;
    const char* value;
  } rows[] = {
      {"\r\nicons_folder=C:\\Icons\\", "C:\\Icons\\"},
      {"a=1\r\nicons_folder  =  /x/y/ \t\r\nb=2", "/x/y/"},
      {"icons_folder /x", ""},     // no "=" after the key
      {"xicons_folder=/x", "/x"},  // anywhere, not only at a line's start
      {"other=1", ""},
      {"icons_folder=caf\xe9", "caf\xe9"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(row.value, readConfigValue(row.text, "icons_folder"));
  }
}

using IconsFolderTest = FavoritesTest;

TEST_F(IconsFolderTest, PathsLiveInTheDataFolder) {
  EXPECT_EQ(appData() / "BookmarkPlugin" / "bookmarks_Explorer2.cfg", pluginConfigPath());
  EXPECT_EQ(appData() / "BookmarkPlugin" / "bookmarkscache_Explorer.xml",
            pluginCachePath("Explorer"));
  EXPECT_TRUE(fs::is_directory(appData() / "BookmarkPlugin"));
}

TEST_F(IconsFolderTest, ConfiguredFolderIsTrimmed) {
  writeFile(pluginConfigPath(),
            "x=1\r\nicons_folder=" + ansiPath(prefix_.path() / "icons") + "\\  \r\nother=2\r\n");
  EXPECT_EQ(prefix_.path() / "icons" / "", iconsFolder());
}

TEST_F(IconsFolderTest, EmptySettingsFileGivesNoFolder) {
  writeFile(pluginConfigPath(), "");
  EXPECT_TRUE(iconsFolder().empty());
  EXPECT_EQ("", extractIcon(std::string(kIconDataUriPrefix) + "YWJj"));
}

TEST_F(IconsFolderTest, DefaultFolderIsCreatedBesideTheLibraryAndRemembered) {
  writeFile(pluginConfigPath(), "keep=1");
  const fs::path folder = iconsFolder();
  ASSERT_FALSE(folder.empty());
  const fs::path created = folder.parent_path();  // the path ends with a separator
  EXPECT_TRUE(fs::is_directory(created));
  EXPECT_EQ(0u, created.filename().string().rfind("FavoritesIcons", 0));
  EXPECT_EQ("keep=1\r\nicons_folder=" + ansiPath(folder), readFile(pluginConfigPath()));
  EXPECT_EQ(folder, iconsFolder());  // read back from the settings file
  fs::remove_all(created);
}

TEST_F(IconsFolderTest, UniqueNamesSkipTakenOnes) {
  const fs::path dir = prefix_.path();
  const fs::path folder = uniqueFolderName(dir, "FavoritesIcons");
  EXPECT_EQ(dir, folder.parent_path().parent_path());
  EXPECT_EQ("", folder.filename().string());
  fs::create_directory(folder);
  std::vector<fs::path> files;
  for (int i = 0; i < 3; ++i) {
    files.push_back(uniqueFileName(dir, "icon", "ico"));
    writeFile(files.back(), "x");
  }
  EXPECT_NE(files[0], files[1]);
  EXPECT_NE(files[1], files[2]);
  EXPECT_NE(files[0], files[2]);
  EXPECT_NE(folder, uniqueFolderName(dir, "FavoritesIcons"));
}

TEST_F(IconsFolderTest, EmbedIconTakesOnlySmallIcoFiles) {
  const fs::path dir = prefix_.path();
  writeFile(dir / "small.ico", "abc");
  writeFile(dir / "UPPER.ICO", "abcd");
  writeFile(dir / "shell32.dll", "MZ");
  writeFile(dir / "limit.ico", std::string(kMaxEmbeddedIconSize, 'i'));
  writeFile(dir / "large.ico", std::string(kMaxEmbeddedIconSize + 1, 'i'));
  ASSERT_EQ(0, mkfifo((dir / "pipe.ico").c_str(), 0600));
  struct Row {
    std::string value;
    std::string expected;
  } rows[] = {
      {ansiPath(dir / "small.ico"), std::string(kIconDataUriPrefix) + "YWJj"},
      {ansiPath(dir / "UPPER.ICO"), std::string(kIconDataUriPrefix) + "YWJjZA"},
      {(dir / "small.ico").string(), std::string(kIconDataUriPrefix) + "YWJj"},
      {ansiPath(dir / "missing.ico"), ""},
      {"C:\\Windows\\missing.ico", ""},
      {ansiPath(dir / "pipe.ico"), ""},
      {ansiPath(dir / "shell32.dll"), ansiPath(dir / "shell32.dll")},
      {"C:\\Windows\\system32\\shell32.dll", "C:\\Windows\\system32\\shell32.dll"},
      {ansiPath(dir / "large.ico"), ansiPath(dir / "large.ico")},
      {"icons\\small.ico", "icons\\small.ico"},
      {"\\\\server\\share\\small.ico", "\\\\server\\share\\small.ico"},
      {"http://www.example.org/favicon.ico", "http://www.example.org/favicon.ico"},
      {"data:image/x-ico;base64,YWJj", "data:image/x-ico;base64,YWJj"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    std::string value = row.value;
    EXPECT_EQ(u"", embedIcon(&value));
    EXPECT_EQ(row.expected, value);
  }
  std::string limit = ansiPath(dir / "limit.ico");
  EXPECT_EQ(u"", embedIcon(&limit));
  EXPECT_EQ(std::string(kIconDataUriPrefix) + base64Encode(std::string(kMaxEmbeddedIconSize, 'i')),
            limit);
}

TEST_F(IconsFolderTest, ExtractIconWritesANewFileInTheIconsFolder) {
  const fs::path icons = prefix_.path() / "icons";
  fs::create_directory(icons);
  writeFile(pluginConfigPath(), "\r\nicons_folder=" + ansiPath(icons) + "\\");
  const std::string first = extractIcon(std::string(kIconDataUriPrefix) + "AAEC\r\nAw");
  const std::string second = extractIcon(std::string(kIconDataUriPrefix) + "YWJj");
  ASSERT_NE("", first);
  ASSERT_NE(first, second);
  const fs::path file = platform::pathFromUtf16(platform::ansiToUtf16(first));
  EXPECT_EQ(icons, file.parent_path());
  EXPECT_EQ(std::string("\x00\x01\x02\x03", 4), readFile(file));
  EXPECT_EQ("", extractIcon(std::string(kIconDataUriPrefix) + "Y"));
  EXPECT_EQ(2, std::distance(fs::directory_iterator(icons), fs::directory_iterator()));
}

}  // namespace
