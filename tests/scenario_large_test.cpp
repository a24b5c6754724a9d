// A large Favorites folder, 2,000 bookmarks in 100 folders of 20 with icons
// and stored menu orders, goes from one computer through the service to an
// empty one and comes back out of it unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>

#include "tests/plugin_e2e_fixture.h"
#include "tests/scenario_support.h"

namespace plugintest {
namespace {

using testsupport::HostComputer;
using testsupport::HostRun;

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// The "IconFile=" value of a shortcut file as a path here (the plug-in
// writes the system's form, with backslashes), or empty.
std::string iconFileOf(const std::filesystem::path& shortcut) {
  const std::string text = readBytes(shortcut);
  const size_t at = text.find("\nIconFile=");
  if (at == std::string::npos) return std::string();
  const size_t start = at + 10;
  std::string value = text.substr(start, text.find_first_of("\r\n", start) - start);
  std::replace(value.begin(), value.end(), '\\', '/');
  return value;
}

// The order of each folder name in the stored list (the last folder of a
// name wins). A plain scan: the document is large work for std::regex.
std::map<std::string, int> folderOrders(const std::string& document) {
  std::map<std::string, int> orders;
  const std::string open = "<folder order=\"";
  for (size_t at = document.find(open); at != std::string::npos; at = document.find(open, at + 1)) {
    const int order = std::atoi(document.c_str() + at + open.size());
    const size_t name = document.find("<name>", at);
    const size_t end = document.find("</name>", name);
    if (name == std::string::npos || end == std::string::npos) break;
    orders[document.substr(name + 6, end - name - 6)] = order;
  }
  return orders;
}

class LargeScenarioTest : public PluginE2ETest {
 protected:
  std::string serviceDocument() const {
    std::string output;
    testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export", kUser,
                             "--database", service_.database().string()},
                            "", &output);
    return output;
  }
};

TEST_F(LargeScenarioTest, TwoThousandBookmarksWithIconsAndMenuOrdersRoundTrip) {
  // Under the sanitizers the same walk with a tenth of the bookmarks: the
  // paths are the same, the full size only costs time there.
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kGroups = 2, kFolders = 5;
#else
  constexpr int kGroups = 10, kFolders = 10;
#endif
  constexpr int kPerFolder = 20;
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  auto home = computer(s);
  auto office = computer(s);

  // Group NN / Folder MM / Site NNMMKK, every seventh with an icon of its
  // own bytes in a folder of the user's.
  std::map<std::string, std::string> iconBytes;  // shortcut path below Favorites -> icon bytes
  int count = 0;
  for (int g = 0; g < kGroups; ++g) {
    for (int f = 0; f < kFolders; ++f) {
      for (int k = 0; k < kPerFolder; ++k) {
        const std::string id = twoDigits(g) + twoDigits(f) + twoDigits(k);
        const std::string relative = "Group " + twoDigits(g) + "/Folder " + twoDigits(f) + "/Site " + id + ".url";
        std::string text = "[InternetShortcut]\r\nURL=https://site" + id + ".example/\r\n";
        if (count++ % 7 == 0) {
          const std::string bytes = std::string("\0\0\1\0\1\0", 6) + "icon of " + id + std::string(40, '\x7f');
          const std::filesystem::path icon = home->prefix() / "My Icons" / ("site" + id + ".ico");
          writeBytes(icon, bytes);
          iconBytes[relative] = bytes;
          text += "IconFile=" + icon.string() + "\r\nIconIndex=0\r\n";
        }
        writeBytes(home->favorites() / relative, text);
      }
    }
  }
  ASSERT_EQ(count, kGroups * kFolders * kPerFolder);
  // Menu orders: the groups in reverse order, and the sites of the first
  // folder of each group in reverse order.
  std::vector<std::pair<std::string, bool>> groups;
  for (int g = kGroups - 1; g >= 0; --g) groups.push_back({"Group " + twoDigits(g), true});
  ASSERT_TRUE(storeMenuOrder(*home, "", groups));
  for (int g = 0; g < kGroups; ++g) {
    std::vector<std::pair<std::string, bool>> sites;
    for (int k = kPerFolder - 1; k >= 0; --k) sites.push_back({"Site " + twoDigits(g) + "00" + twoDigits(k) + ".url", false});
    ASSERT_TRUE(storeMenuOrder(*home, "Group " + twoDigits(g) + "\\Folder 00", sites));
  }

  HostRun first = home->runHost("open\nquit\n");
  ASSERT_EQ(first.exitCode, 0);
  ASSERT_EQ(first.count("Uploading has been finished successfully."), 1u);
  const std::string stored = serviceDocument();
  EXPECT_EQ(documentNames(stored).size(), static_cast<size_t>(count + kGroups + kGroups * kFolders));
  // The stored list keeps the menu order: the last group first.
  const std::map<std::string, int> orders = folderOrders(stored);
  ASSERT_TRUE(orders.count("Group 00") && orders.count("Group " + twoDigits(kGroups - 1)));
  EXPECT_LT(orders.at("Group " + twoDigits(kGroups - 1)), orders.at("Group 00"));

  // The empty computer takes it all in.
  HostRun second = office->runHost("open\nquit\n");
  ASSERT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.count("icon add"), 0u);
  EXPECT_EQ(office->favoriteNames(), home->favoriteNames());
  for (const auto& [relative, bytes] : iconBytes) {
    SCOPED_TRACE(relative);
    const std::string icon = iconFileOf(office->favorites() / relative);
    ASSERT_FALSE(icon.empty());
    EXPECT_EQ(std::filesystem::path(icon).parent_path(), office->prefix() / "icons");
    EXPECT_EQ(readBytes(icon), bytes);
  }

  // Read back on both computers, the lists equal what both agreed on: no
  // run uploads anything, and the stored list stays as it was.
  for (HostComputer* pc : {office.get(), home.get()}) {
    HostRun again = pc->runHost("open\nquit\n");
    ASSERT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.count("Uploading has been started"), 0u)
        << (pc == home.get() ? "home" : "office") << " read its Favorites otherwise";
  }
  EXPECT_EQ(serviceDocument(), stored);
}

}  // namespace
}  // namespace plugintest
