#include "service/list_time.h"

#include <ctime>
#include <tuple>

namespace service {
namespace {

// The fields of the local time text, most significant first: comparing them
// compares the texts.
std::tuple<int, int, int, int, int, int> localFields(std::int64_t t) {
  std::time_t value = static_cast<std::time_t>(t);
  std::tm tm{};
  localtime_r(&value, &tm);
  return {tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// Longer than any daylight-saving shift in use.
constexpr std::int64_t kMaxFallBack = 3 * 3600;

}  // namespace

std::int64_t nextListTime(std::int64_t previous, std::int64_t now) {
  std::int64_t t = now > previous ? now : previous + 1;
  auto previousFields = localFields(previous);
  for (std::int64_t step = 0; step < kMaxFallBack && localFields(t) <= previousFields; ++step) ++t;
  return t;
}

}  // namespace service
