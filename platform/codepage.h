// Character set conversions: UTF-8 <-> UTF-16 <-> the ANSI code page.
// The ANSI code page is a Windows code page number from QUORVANE_CODEPAGE
// (default 1252); characters it cannot hold become its default character "?".
// Invalid input sequences are replaced (U+FFFD in UTF-16, "?" in bytes).
#pragma once

#include <filesystem>
#include <string>

#include "platform/export.h"

namespace platform {

// The ANSI code page number in effect.
PLATFORM_API unsigned ansiCodePage();

PLATFORM_API std::u16string utf8ToUtf16(const std::string& text);
PLATFORM_API std::string utf16ToUtf8(const std::u16string& text);
PLATFORM_API std::u16string ansiToUtf16(const std::string& text);
PLATFORM_API std::string utf16ToAnsi(const std::u16string& text);

// Conversions through UTF-16 with an explicit code page (65001 is UTF-8).
PLATFORM_API std::u16string multiByteToUtf16(unsigned codePage, const std::string& text);
PLATFORM_API std::string utf16ToMultiByte(unsigned codePage, const std::u16string& text);

// File system paths: UTF-16 texts on the system the product was written for,
// UTF-8 bytes on Linux. A backslash in a UTF-16 path is a separator.
PLATFORM_API std::filesystem::path pathFromUtf16(const std::u16string& text);
PLATFORM_API std::u16string pathToUtf16(const std::filesystem::path& path);
// True when a name the file system gave is text: it converts to UTF-16 and
// back to the same bytes. A name that is not (bytes that are not UTF-8 here,
// an unpaired surrogate on the other system) would reach a document changed,
// and two such names could become one.
PLATFORM_API bool nameIsText(const std::filesystem::path& name);

}  // namespace platform
