#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr unsigned kUtf8CodePage = 65001;

// UTF-8 and UTF-16 are converted by hand: they are fixed byte for byte, the
// replacement rules are ours, and they need no iconv descriptor.

void appendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void appendUtf16(std::u16string* out, char32_t c) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Decodes one UTF-8 sequence at text[*pos]; returns false (and consumes the
// maximal invalid prefix, at least one byte) for malformed, overlong or
// surrogate encodings.
bool decodeUtf8(const std::string& text, size_t* pos, char32_t* out) {
  const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char b0 = byteAt(*pos);
  if (b0 < 0x80) {
    *out = b0;
    ++*pos;
    return true;
  }
  int length;
  char32_t c;
  char32_t minimum;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, c = b0 & 0x1F, minimum = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, c = b0 & 0x0F, minimum = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, c = b0 & 0x07, minimum = 0x10000;
  } else {
    ++*pos;
    return false;
  }
  size_t i = *pos + 1;
  for (int k = 1; k < length; ++k, ++i) {
    if (i >= text.size() || (byteAt(i) & 0xC0) != 0x80) {
      *pos = i;
      return false;
    }
    c = (c << 6) | (byteAt(i) & 0x3F);
  }
  *pos = i;
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  *out = c;
  return true;
}

// Windows code page number -> iconv encoding name.
std::string iconvName(unsigned codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 950: return "BIG5";
    case 51932: return "EUC-JP";
    case 54936: return "GB18030";
    default: break;
  }
  if (codePage >= 28591 && codePage <= 28606) {
    return "ISO-8859-" + std::to_string(codePage - 28590);
  }
  // 874, 932, 936, 949 and 1250..1258 share the "CP" names, and so do the
  // OEM code pages (437, 850, 866, ...).
  return "CP" + std::to_string(codePage);
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

iconv_t openDescriptor(unsigned codePage, bool toUtf16) {
  std::string name = iconvName(codePage);
  return toUtf16 ? iconv_open("UTF-16LE", name.c_str()) : iconv_open(name.c_str(), "UTF-16LE");
}

// One descriptor per direction and code page, per thread: iconv descriptors
// carry conversion state and must not be shared between threads. The cache
// is reached through a trivially destructible pointer, because conversions
// also run after the thread's thread-local destructors (a library's
// finalisers at process exit): from then on each call gets a fresh
// descriptor, owned by *scratch.
using DescriptorCache = std::map<std::pair<unsigned, bool>, IconvHandle>;
thread_local DescriptorCache* t_cache = nullptr;
thread_local bool t_cacheGone = false;

struct CacheReaper {
  ~CacheReaper() {
    delete t_cache;
    t_cache = nullptr;
    t_cacheGone = true;
  }
};

iconv_t descriptor(unsigned codePage, bool toUtf16, IconvHandle* scratch) {
  if (t_cacheGone) {
    iconv_t cd = openDescriptor(codePage, toUtf16);
    if (cd != reinterpret_cast<iconv_t>(-1)) scratch->reset(cd);
    return cd;
  }
  if (!t_cache) {
    thread_local CacheReaper reaper;
    (void)reaper;
    t_cache = new DescriptorCache;
  }
  auto key = std::make_pair(codePage, toUtf16);
  auto it = t_cache->find(key);
  if (it == t_cache->end()) {
    iconv_t cd = openDescriptor(codePage, toUtf16);
    if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
    it = t_cache->emplace(key, IconvHandle(cd)).first;
  }
  iconv(static_cast<iconv_t>(it->second.get()), nullptr, nullptr, nullptr, nullptr);
  return static_cast<iconv_t>(it->second.get());
}

std::u16string fromLittleEndian(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return out;
}

std::string toLittleEndian(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

// Runs iconv over the whole input. On an invalid or unmappable input unit,
// onInvalid(position) appends a replacement to the output and returns how
// many input bytes to skip.
template <typename OnInvalid>
std::string runIconv(iconv_t cd, const std::string& input, std::string&& output,
                     OnInvalid onInvalid) {
  char buffer[4096];
  size_t pos = 0;
  auto flushBuffer = [&](char* end) { output.append(buffer, end - buffer); };
  while (pos < input.size()) {
    char* in = const_cast<char*>(input.data() + pos);
    size_t inLeft = input.size() - pos;
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
    pos = input.size() - inLeft;
    flushBuffer(out);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ, or EINVAL for an incomplete sequence at the end.
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    pos += onInvalid(pos, &output);
  }
  char* out = buffer;
  size_t outLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &out, &outLeft);
  flushBuffer(out);
  return std::move(output);
}

}  // namespace

unsigned ansiCodePage() {
  if (const char* value = std::getenv("QUORVANE_CODEPAGE"); value && *value) {
    char* end = nullptr;
    unsigned long number = std::strtoul(value, &end, 10);
    if (end && *end == '\0' && number > 0 && number <= 65535) return static_cast<unsigned>(number);
  }
  return 1252;
}

std::u16string utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t c;
    appendUtf16(&out, decodeUtf8(text, &pos, &c) ? c : kReplacement);
  }
  return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;  // a lone surrogate
    }
    appendUtf8(&out, c);
  }
  return out;
}

std::u16string multiByteToUtf16(unsigned codePage, const std::string& text) {
  if (codePage == kUtf8CodePage) return utf8ToUtf16(text);
  if (text.empty()) return {};
  IconvHandle scratch;
  iconv_t cd = descriptor(codePage, true, &scratch);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // An unknown code page: keep ASCII, replace the rest.
    std::u16string out;
    for (char c : text) out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : kReplacement);
    return out;
  }
  std::string bytes = runIconv(cd, text, std::string(), [&](size_t pos, std::string* out) {
    unsigned char b = static_cast<unsigned char>(text[pos]);
    // Windows maps the five bytes that code page 1252 leaves undefined onto
    // the C1 controls of the same value; iconv rejects them.
    char16_t c = kReplacement;
    if (codePage == 1252 && (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)) c = b;
    out->push_back(static_cast<char>(c & 0xFF));
    out->push_back(static_cast<char>(c >> 8));
    return size_t{1};
  });
  return fromLittleEndian(bytes);
}

std::string utf16ToMultiByte(unsigned codePage, const std::u16string& text) {
  if (codePage == kUtf8CodePage) return utf16ToUtf8(text);
  if (text.empty()) return {};
  IconvHandle scratch;
  iconv_t cd = descriptor(codePage, false, &scratch);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
  }
  std::string input = toLittleEndian(text);
  return runIconv(cd, input, std::string(), [&](size_t pos, std::string* out) {
    // The code page's default character stands for what it cannot hold; a
    // surrogate pair is one character.
    out->push_back('?');
    size_t unit = pos / 2;
    char16_t c = text[unit];
    if (codePage == 1252 && (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D)) {
      out->back() = static_cast<char>(c);
    }
    bool pair = c >= 0xD800 && c <= 0xDBFF && unit + 1 < text.size() && text[unit + 1] >= 0xDC00 &&
                text[unit + 1] <= 0xDFFF;
    return size_t{pair ? 4u : 2u};
  });
}

std::u16string ansiToUtf16(const std::string& text) { return multiByteToUtf16(ansiCodePage(), text); }

std::string utf16ToAnsi(const std::u16string& text) { return utf16ToMultiByte(ansiCodePage(), text); }

std::filesystem::path pathFromUtf16(const std::u16string& text) {
  std::string bytes = utf16ToUtf8(text);
  for (char& c : bytes) {
    if (c == '\\') c = '/';
  }
  return std::filesystem::path(bytes);
}

// Separators become backslashes, so that code written for the other system
// finds the file name after the last one.
std::u16string pathToUtf16(const std::filesystem::path& path) {
  std::u16string text = utf8ToUtf16(path.string());
  for (char16_t& c : text) {
    if (c == u'/') c = u'\\';
  }
  return text;
}

bool nameIsText(const std::filesystem::path& name) {
  const std::string& bytes = name.native();
  return utf16ToUtf8(utf8ToUtf16(bytes)) == bytes;
}

}  // namespace platform
