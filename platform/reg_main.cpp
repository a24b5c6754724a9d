// reg: the registry console tool, after the Windows command of that name.
//   reg query KEY [/v NAME | /ve] [/s]
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//   reg export KEY FILE [/y]
// Registry strings are bytes in the ANSI code page; the tool shows them, and
// takes its arguments, in UTF-8.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/registry.h"

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegValue;
using platform::Status;

constexpr const char* kUsage =
    "Usage: reg OPERATION KEY [options]\n"
    "Reads and changes the registry of the prefix ($QUORVANE_PREFIX, default ~/.quorvane).\n"
    "\n"
    "  reg query KEY [/v NAME | /ve] [/s]\n"
    "      Shows the values and sub-keys of KEY; /v one value, /ve the default value,\n"
    "      /s every key below KEY as well.\n"
    "  reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "      Creates KEY; with /v or /ve also sets a value. TYPE is REG_SZ (default),\n"
    "      REG_EXPAND_SZ, REG_MULTI_SZ (items split at SEPARATOR, default \\0),\n"
    "      REG_DWORD (decimal or 0x hex), REG_QWORD, REG_BINARY or REG_NONE (hex\n"
    "      digits). /f overwrites an existing value without asking.\n"
    "  reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "      Deletes KEY with everything below it, or one value, the default value,\n"
    "      or all values of KEY (/va). /f deletes without asking.\n"
    "  reg export KEY FILE [/y]\n"
    "      Writes KEY and everything below it to FILE as a .reg text (UTF-8, CR LF).\n"
    "      /y overwrites an existing FILE without asking.\n"
    "\n"
    "KEY is ROOT\\PATH with ROOT one of HKCU, HKLM, HKCR or HKEY_CURRENT_USER,\n"
    "HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT. Options may start with / or -.\n"
    "Exit status: 0 on success, 1 on failure.\n";

constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kDone = "The operation completed successfully.";

constexpr uint32_t kRegQword = 11;

std::string toAnsi(const std::string& utf8) { return platform::utf16ToAnsi(platform::utf8ToUtf16(utf8)); }
std::string fromAnsi(const std::string& ansi) { return platform::utf16ToUtf8(platform::ansiToUtf16(ansi)); }

struct Arguments {
  std::string operation;
  std::vector<std::string> positional;
  std::optional<std::string> valueName;  // /v NAME; "" for /ve
  bool allValues = false;                // /va
  std::string type = "REG_SZ";
  std::optional<std::string> data;
  std::string separator = "\\0";
  bool force = false;
  bool recurse = false;
  bool yes = false;
};

int syntaxError(const std::string& operation, const char* what = "Invalid syntax.") {
  std::cerr << "ERROR: " << what << "\nType \"reg " << operation << " --help\" for usage.\n";
  return 1;
}

std::string lower(std::string text);

// Only the known switches are options, so that a file path such as
// /tmp/x.reg stays an argument.
bool isOption(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
  std::string name = lower(arg.substr(1));
  for (const char* known : {"v", "ve", "va", "t", "d", "s", "f", "y"}) {
    if (name == known) return true;
  }
  return false;
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// false with a message already printed when the arguments do not parse.
bool parseArguments(int argc, char** argv, Arguments* args) {
  args->operation = lower(argv[1]);
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (!isOption(arg)) {
      args->positional.push_back(arg);
      continue;
    }
    std::string option = lower(arg.substr(1));
    auto next = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string text;
    if (option == "v" && next(&text)) {
      if (args->valueName) return false;
      args->valueName = text;
    } else if (option == "ve") {
      if (args->valueName) return false;
      args->valueName = "";
    } else if (option == "va") {
      args->allValues = true;
    } else if (option == "t" && next(&text)) {
      args->type = text;
      for (char& c : args->type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else if (option == "d" && next(&text)) {
      args->data = text;
    } else if (option == "s" && args->operation == "add" && next(&text)) {
      args->separator = text;
    } else if (option == "s") {
      args->recurse = true;
    } else if (option == "f") {
      args->force = true;
    } else if (option == "y") {
      args->yes = true;
    } else {
      return false;
    }
  }
  return true;
}

const char* typeName(uint32_t type) {
  switch (type) {
    case platform::kRegNone: return "REG_NONE";
    case platform::kRegSz: return "REG_SZ";
    case platform::kRegExpandSz: return "REG_EXPAND_SZ";
    case platform::kRegBinary: return "REG_BINARY";
    case platform::kRegDword: return "REG_DWORD";
    case platform::kRegMultiSz: return "REG_MULTI_SZ";
    case kRegQword: return "REG_QWORD";
    default: return "REG_UNKNOWN";
  }
}

std::optional<uint32_t> typeFromName(const std::string& name) {
  for (uint32_t type : std::initializer_list<uint32_t>{platform::kRegNone, platform::kRegSz, platform::kRegExpandSz,
                        platform::kRegBinary, platform::kRegDword, platform::kRegMultiSz,
                        kRegQword}) {
    if (name == typeName(type)) return type;
  }
  return std::nullopt;
}

uint64_t littleEndian(const std::string& data) {
  uint64_t value = 0;
  for (size_t i = data.size(); i-- > 0;) value = (value << 8) | static_cast<unsigned char>(data[i]);
  return value;
}

std::string hexDigits(const std::string& data) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : data) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

// The data column of "reg query", as the Windows tool writes it.
std::string displayData(uint32_t type, const std::string& data) {
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz: return fromAnsi(data.substr(0, data.find('\0')));
    case platform::kRegMultiSz: {
      std::string out;
      size_t start = 0;
      while (start < data.size()) {
        size_t end = data.find('\0', start);
        if (end == std::string::npos) end = data.size();
        if (end == start) break;  // the closing empty string
        if (!out.empty()) out += "\\0";
        out += fromAnsi(data.substr(start, end - start));
        start = end + 1;
      }
      return out;
    }
    case platform::kRegDword:
    case kRegQword:
      if (data.size() == (type == platform::kRegDword ? 4u : 8u)) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(littleEndian(data)));
        return text;
      }
      return hexDigits(data);
    default: return hexDigits(data);
  }
}

std::string keyDisplayName(RegRoot root, const std::string& path) {
  std::string name = platform::registryRootName(root);
  if (!path.empty()) name += "\\" + fromAnsi(path);
  return name;
}

std::string valueDisplayName(const std::string& name) {
  return name.empty() ? "(Default)" : fromAnsi(name);
}

bool confirm(const std::string& question) {
  std::cout << question << " " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  answer = lower(answer);
  return answer == "y" || answer == "yes";
}

// Opens the key named on the command line; prints the error itself.
bool openKey(const Arguments& args, bool create, RegRoot* root, std::string* path, RegKey* key) {
  if (args.positional.empty() || !platform::parseRegistryPath(toAnsi(args.positional[0]), root, path)) {
    syntaxError(args.operation, "Invalid key name.");
    return false;
  }
  Status status = create ? RegKey::create(*root, *path, key) : RegKey::open(*root, *path, key);
  if (status == platform::kOk) return true;
  if (status == platform::kFileNotFound) {
    std::cerr << kNotFound << "\n";
  } else if (status == platform::kBadPathname) {
    syntaxError(args.operation, "Invalid key name.");
  } else {
    std::string text;
    platform::systemErrorText(status, &text);
    std::cerr << "ERROR: " << (text.empty() ? "error " + std::to_string(status) : text);
  }
  return false;
}

void printValue(const RegValue& value) {
  std::cout << "    " << valueDisplayName(value.name) << "    " << typeName(value.type) << "    "
            << displayData(value.type, value.data) << "\n";
}

bool queryKey(RegRoot root, const std::string& path, const RegKey& key, bool recurse) {
  std::vector<RegValue> values;
  std::vector<std::string> subKeys;
  if (key.values(&values) != platform::kOk || key.subKeys(&subKeys) != platform::kOk) return false;
  std::cout << "\n" << keyDisplayName(root, path) << "\n";
  for (const RegValue& value : values) printValue(value);
  for (const std::string& sub : subKeys) {
    std::string subPath = path.empty() ? sub : path + "\\" + sub;
    if (recurse) {
      RegKey child;
      if (RegKey::open(root, subPath, &child) != platform::kOk) return false;
      if (!queryKey(root, subPath, child, true)) return false;
    } else {
      if (&sub == &subKeys.front()) std::cout << "\n";
      std::cout << keyDisplayName(root, subPath) << "\n";
    }
  }
  return true;
}

int runQuery(const Arguments& args) {
  if (args.positional.size() != 1 || args.allValues || args.force) return syntaxError("query");
  RegRoot root;
  std::string path;
  RegKey key;
  if (!openKey(args, false, &root, &path, &key)) return 1;
  if (args.valueName) {
    RegValue value;
    if (key.readValue(toAnsi(*args.valueName), &value) != platform::kOk) {
      std::cerr << kNotFound << "\n";
      return 1;
    }
    std::cout << "\n" << keyDisplayName(root, path) << "\n";
    printValue(value);
    std::cout << "\n";
    return 0;
  }
  if (!queryKey(root, path, key, args.recurse)) {
    std::cerr << kNotFound << "\n";
    return 1;
  }
  std::cout << "\n";
  return 0;
}

bool parseHex(const std::string& text, std::string* bytes) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    auto digit = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

// The bytes that "reg add" stores for DATA of the given type.
bool encodeData(uint32_t type, const std::string& text, const std::string& separator,
                std::string* bytes) {
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
      *bytes = toAnsi(text) + std::string(1, '\0');
      return true;
    case platform::kRegMultiSz: {
      const std::string& sep = separator;
      if (sep.empty()) return false;
      size_t start = 0;
      while (!text.empty() && start <= text.size()) {
        size_t end = text.find(sep, start);
        if (end == std::string::npos) end = text.size();
        *bytes += toAnsi(text.substr(start, end - start)) + std::string(1, '\0');
        start = end + sep.size();
      }
      bytes->push_back('\0');
      return true;
    }
    case platform::kRegDword:
    case kRegQword: {
      if (text.empty()) {
        if (type == platform::kRegDword) *bytes = std::string(4, '\0');
        if (type == kRegQword) *bytes = std::string(8, '\0');
        return true;
      }
      char* end = nullptr;
      errno = 0;
      unsigned long long value = std::strtoull(text.c_str(), &end, 0);
      if (errno != 0 || *end != '\0' || text[0] == '-') return false;
      if (type == platform::kRegDword && value > 0xFFFFFFFFull) return false;
      for (size_t i = 0; i < (type == platform::kRegDword ? 4u : 8u); ++i) {
        bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
      }
      return true;
    }
    default: return parseHex(text, bytes);
  }
}

int runAdd(const Arguments& args) {
  if (args.positional.size() != 1 || args.allValues || args.recurse || args.yes) {
    return syntaxError("add");
  }
  std::optional<uint32_t> type = typeFromName(args.type);
  if (!type) return syntaxError("add", "Invalid type.");
  std::string bytes;
  if (args.valueName && !encodeData(*type, args.data.value_or(""), args.separator, &bytes)) {
    return syntaxError("add", "Invalid data.");
  }
  RegRoot root;
  std::string path;
  RegKey key;
  if (!openKey(args, true, &root, &path, &key)) return 1;
  if (args.valueName) {
    std::string name = toAnsi(*args.valueName);
    RegValue existing;
    if (!args.force && key.readValue(name, &existing) == platform::kOk &&
        !confirm("Value " + valueDisplayName(name) + " exists, overwrite(Yes/No)?")) {
      std::cout << "The operation was cancelled by the user.\n";
      return 1;
    }
    if (key.setValue(name, *type, bytes.data(), static_cast<uint32_t>(bytes.size())) !=
        platform::kOk) {
      std::cerr << "ERROR: The value could not be written.\n";
      return 1;
    }
  }
  std::cout << kDone << "\n";
  return 0;
}

int runDelete(const Arguments& args) {
  if (args.positional.size() != 1 || args.recurse || args.yes || (args.valueName && args.allValues)) {
    return syntaxError("delete");
  }
  RegRoot root;
  std::string path;
  RegKey key;
  if (!openKey(args, false, &root, &path, &key)) return 1;
  if (args.valueName) {
    std::string name = toAnsi(*args.valueName);
    RegValue existing;
    if (key.readValue(name, &existing) != platform::kOk) {
      std::cerr << kNotFound << "\n";
      return 1;
    }
    if (!args.force && !confirm("Delete the registry value " + valueDisplayName(name) + " (Yes/No)?")) {
      std::cout << "The operation was cancelled by the user.\n";
      return 1;
    }
    if (key.deleteValue(name) != platform::kOk) {
      std::cerr << kNotFound << "\n";
      return 1;
    }
  } else if (args.allValues) {
    if (!args.force &&
        !confirm("Delete all values under the registry key " + keyDisplayName(root, path) + " (Yes/No)?")) {
      std::cout << "The operation was cancelled by the user.\n";
      return 1;
    }
    std::vector<RegValue> values;
    if (key.values(&values) != platform::kOk) return 1;
    for (const RegValue& value : values) key.deleteValue(value.name);
  } else {
    if (!args.force &&
        !confirm("Permanently delete the registry key " + keyDisplayName(root, path) + " (Yes/No)?")) {
      std::cout << "The operation was cancelled by the user.\n";
      return 1;
    }
    key.close();
    if (platform::deleteRegistryTree(root, path) != platform::kOk) {
      std::cerr << kNotFound << "\n";
      return 1;
    }
  }
  std::cout << kDone << "\n";
  return 0;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : fromAnsi(text)) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

std::string hexList(const std::string& data) {
  std::string out;
  static const char kDigits[] = "0123456789abcdef";
  for (unsigned char c : data) {
    if (!out.empty()) out.push_back(',');
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

// One value line of a .reg file, as regedit writes it (without line wrapping).
std::string exportLine(const RegValue& value) {
  std::string line = value.name.empty() ? "@" : quoted(value.name);
  line += "=";
  const std::string& data = value.data;
  bool plainString = value.type == platform::kRegSz &&
                     (data.empty() || data.find('\0') == data.size() - 1);
  if (plainString) {
    line += quoted(data.empty() ? data : data.substr(0, data.size() - 1));
  } else if (value.type == platform::kRegDword && data.size() == 4) {
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08llx", static_cast<unsigned long long>(littleEndian(data)));
    line += text;
  } else if (value.type == platform::kRegBinary) {
    line += "hex:" + hexList(data);
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    line += prefix + hexList(data);
  }
  return line + "\r\n";
}

bool exportKey(RegRoot root, const std::string& path, std::string* out) {
  RegKey key;
  std::vector<RegValue> values;
  std::vector<std::string> subKeys;
  if (RegKey::open(root, path, &key) != platform::kOk || key.values(&values) != platform::kOk ||
      key.subKeys(&subKeys) != platform::kOk) {
    return false;
  }
  *out += "[" + keyDisplayName(root, path) + "]\r\n";
  for (const RegValue& value : values) *out += exportLine(value);
  *out += "\r\n";
  for (const std::string& sub : subKeys) {
    if (!exportKey(root, path.empty() ? sub : path + "\\" + sub, out)) return false;
  }
  return true;
}

int runExport(const Arguments& args) {
  if (args.positional.size() != 2 || args.valueName || args.allValues || args.force ||
      args.recurse) {
    return syntaxError("export");
  }
  RegRoot root;
  std::string path;
  RegKey key;
  if (!openKey(args, false, &root, &path, &key)) return 1;
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  if (!exportKey(root, path, &text)) {
    std::cerr << kNotFound << "\n";
    return 1;
  }
  std::filesystem::path file = args.positional[1];
  if (!args.yes && platform::fileExists(file) &&
      !confirm("File " + file.string() + " already exists. Overwrite (Yes/No)?")) {
    std::cout << "The operation was cancelled by the user.\n";
    return 1;
  }
  if (!platform::writeWholeFile(file, text)) {
    std::string error;
    platform::systemErrorText(platform::lastError(), &error);
    std::cerr << "ERROR: " << (error.empty() ? "The file could not be written.\n" : error);
    return 1;
  }
  std::cout << kDone << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << kUsage;
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "/?" || arg == "-?") {
      std::cout << kUsage;
      return 0;
    }
  }
  Arguments args;
  if (!parseArguments(argc, argv, &args)) return syntaxError(lower(argv[1]));
  if (args.operation == "query") return runQuery(args);
  if (args.operation == "add") return runAdd(args);
  if (args.operation == "delete") return runDelete(args);
  if (args.operation == "export") return runExport(args);
  std::cerr << "ERROR: Invalid syntax.\nType \"reg --help\" for usage.\n";
  return 1;
}
