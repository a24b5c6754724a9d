// Time stamp texts: local time as year, month, day, hour, minute and second,
// zero-padded to widths 4, 2, 2, 2, 2, 2 and joined by "-"
// (2005-03-07-09-05-00). The value 0 means "no time stamp" everywhere.
#pragma once

#include <ctime>
#include <string>

namespace exchange {

// The calendar time as local time in the form above. Empty when the time has
// no local-time representation.
std::string formatTimestamp(std::time_t time);

// The text split at every "-" with empty pieces dropped; the first six pieces
// are year, month, day, hour, minute and second, each read by stream
// extraction (a piece that does not start with a number reads 0). Fewer than
// six pieces, or a time the local-time conversion rejects, give 0.
std::time_t parseTimestamp(const std::string& text);

}  // namespace exchange
