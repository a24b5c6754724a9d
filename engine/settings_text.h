// The settings file's text: one "key=value" line per setting, CR LF after
// each, bytes in the ANSI code page, no header and no comments. Credentials
// are stored scrambled (engine/scramble.h).
//
//   enabled=1            always ("1" when non-zero, else "0")
//   server=...           only when not empty, unchanged
//   server.port=80       always, signed 32-bit decimal (so 4294967295 is "-1")
//   username=...         only when not empty, scrambled
//   password=...         only when not empty, scrambled
//   sync.auto, sync.period, sync.afterstart, sync.beforeexit, proxy.auth
//                        always, decimal
//   proxy.username=...   only when not empty, scrambled
//   proxy.password=...   only when not empty, scrambled
//   erroricon=1          always, decimal
#pragma once

#include <optional>
#include <string>

namespace corvex {

class ClientApp;

// The value of the first line that begins with exactly the key (case
// sensitive), then any number of spaces, then "=". The value runs to the next
// LF or the end of the text; white space is trimmed from both ends, then any
// trailing bytes below 32. No such line: no value. "server" never matches a
// "server.port" line, nor "username" a "proxy.username" line.
std::optional<std::string> findSettingValue(const std::string& text, const std::string& key);

// The C runtime's reading of a number: leading white space, an optional sign,
// digits; anything else stops it, and no digit at all gives 0. Values beyond
// 32 bits are clamped.
int32_t parseSettingNumber(const std::string& value);

// The whole file text for the app's current values.
std::string settingsFileText(const ClientApp& app);

// Applies every key the text yields over the app's values; fields whose key
// is missing keep their value. Credentials that are present but empty keep
// theirs too; a malformed scrambled credential becomes the empty text.
void applySettingsFileText(const std::string& text, ClientApp& app);

}  // namespace corvex
