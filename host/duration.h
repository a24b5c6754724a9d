// Durations in host commands: a whole number followed by a unit, "250ms",
// "20s", "5m", "1h" (a bare number is milliseconds). Several parts may follow
// one another ("1h30m").
#pragma once

#include <cstdint>
#include <string_view>

namespace host {

// False (and *milliseconds left alone) for anything else, or past 2^63 ms.
bool parseDuration(std::string_view text, uint64_t* milliseconds);

}  // namespace host
