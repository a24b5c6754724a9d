#include "engine/list_limit.h"

#include "engine/client_app.h"
#include "engine/engine_log.h"

namespace corvex {

std::string checkListLength(const ClientApp& app, const std::string& text, ListOrigin origin) {
  const bool downloaded = origin == ListOrigin::Service;
  const exchange::ControlBytes controlBytes =
      downloaded ? exchange::ControlBytes::Drop : exchange::ControlBytes::Keep;
  if (!exchange::exceedsItemLimit(text, controlBytes)) return "";
  logMessage(app.appName.c_str(), "%s has been refused - it holds more than %zu items.\n",
             downloaded ? "Downloaded list" : "List given from extension", exchange::kMaxListItems);
  return downloaded ? kTooManyServiceItems : kTooManyLocalItems;
}

}  // namespace corvex
