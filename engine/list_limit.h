// The longest list the engine synchronises. A longer one is refused from its
// text, before it is parsed into a tree: a parsed list costs about 0.85 KB
// per bookmark, and the run holds up to three of them at once.
#pragma once

#include <string>

#include "exchange/item_count.h"

namespace corvex {

class ClientApp;

enum class ListOrigin {
  Service,  // a downloaded list, parsed without its control bytes
  Local,    // the list the host hands over, parsed as it is
};

static_assert(exchange::kMaxListItems == 300000, "the messages below state the limit");
inline constexpr char kTooManyServiceItems[] =
    "The bookmark list on the service holds more than 300000 items; at most 300000 can be "
    "synchronized.";
inline constexpr char kTooManyLocalItems[] =
    "The bookmark list given from extension holds more than 300000 items; at most 300000 can be "
    "synchronized.";

// The empty text when the list text holds at most kMaxListItems items;
// otherwise logs the refusal under the application's name and returns the
// message for the user. A text that is not well-formed is counted as far as
// it goes: whether it parses is for the parse that follows to say.
std::string checkListLength(const ClientApp& app, const std::string& text, ListOrigin origin);

}  // namespace corvex
