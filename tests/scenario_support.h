// Helpers of the scenario tests: a computer whose plug-in and engine are
// private copies (so that "syncMethod.ini" beside the engine is the
// computer's own), and stored menu orders in the layout the browser writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/host_session.h"

namespace plugintest {

// Copies libBookmark.so and libcorvex.so into prefix/lib and registers the
// copy. Programs started with the returned environment load the engine
// copy: the plug-in links it by name, and LD_LIBRARY_PATH comes before the
// build's run path.
inline testsupport::Environment usePrivateLibraries(const testsupport::HostComputer& pc) {
  const std::filesystem::path lib = pc.prefix() / "lib";
  std::filesystem::create_directories(lib);
  for (const char* name : {"libBookmark.so", "libcorvex.so"}) {
    std::filesystem::copy_file(testsupport::binaryDir() / name, lib / name,
                               std::filesystem::copy_options::overwrite_existing);
  }
  testsupport::HostRun registered = pc.registerPlugin(false, lib / "libBookmark.so");
  if (registered.exitCode != 0) return {};
  return {{"LD_LIBRARY_PATH", lib.string()}};
}

// An "Order" value as the browser stores it: header, then one record per
// item with its position and its UTF-16 name at offset 44.
inline std::string browserMenuOrder(const std::vector<std::pair<std::string, bool>>& itemsInOrder) {
  auto put32 = [](std::string* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(v >> (8 * i) & 0xFF));
  };
  auto put16 = [](std::string* out, uint16_t v) {
    out->push_back(static_cast<char>(v & 0xFF));
    out->push_back(static_cast<char>(v >> 8));
  };
  std::string records;
  uint32_t position = 0;
  for (const auto& [name, folder] : itemsInOrder) {
    std::string utf16;
    for (char c : name) put16(&utf16, static_cast<unsigned char>(c));  // ASCII names only
    put16(&utf16, 0);
    const uint32_t size = static_cast<uint32_t>(44 + utf16.size() + 4);
    std::string record;
    put32(&record, size);
    put32(&record, position++);
    put16(&record, static_cast<uint16_t>(size - 15));
    put16(&record, folder ? 0x35 : 0x36);
    record.append(8, '\0');
    put16(&record, folder ? 0x10 : 0x20);
    record.append(22, '\0');
    record += utf16;
    record.append(4, '\0');
    records += record;
  }
  std::string value;
  put32(&value, 8);
  put32(&value, 2);
  put32(&value, static_cast<uint32_t>(20 + records.size() - 8));
  put32(&value, 1);
  put32(&value, static_cast<uint32_t>(itemsInOrder.size()));
  return value + records;
}

inline std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text.push_back(digits[c >> 4]);
    text.push_back(digits[c & 15]);
  }
  return text;
}

// Stores the value for a folder below Favorites ("" for Favorites itself,
// "News\\Daily" for a sub-folder) with reg.
inline bool storeMenuOrder(const testsupport::HostComputer& pc, const std::string& folder,
                           const std::vector<std::pair<std::string, bool>>& itemsInOrder) {
  std::string key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";
  if (!folder.empty()) key += "\\" + folder;
  return pc.reg({"add", key, "/v", "Order", "/t", "REG_BINARY", "/d", hex(browserMenuOrder(itemsInOrder)), "/f"})
             .exitCode == 0;
}

}  // namespace plugintest
