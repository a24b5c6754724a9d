// The time stamp given to a new version of a stored list.
#pragma once

#include <cstdint>

namespace service {

// The time for a list stored at `now` whose previous version has the time
// `previous`: now, or one second after previous when now is not later, so
// that every version has a time of its own even with two uploads in one
// second or a clock set back. Clients only see the local-time text of a
// time, and when the clock falls back (end of daylight-saving time) a later
// second can have an earlier or equal text; the result is moved on until its
// text is later than that of `previous`, so no two versions share a text.
std::int64_t nextListTime(std::int64_t previous, std::int64_t now);

}  // namespace service
