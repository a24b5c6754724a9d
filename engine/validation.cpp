#include "engine/validation.h"

#include "engine/client_app.h"
#include "engine/engine_log.h"

namespace corvex {

std::string validateSettings(const ClientApp& app) {
  if (app.server.empty()) return "Server should not be empty.";
  if (app.serverPort == 0) return "Port should be greather than \"0\". Usually 80 or 8080.";
  if (app.username.empty()) return "Username should not be empty.";
  if (app.proxyAuth == 1 && app.proxyUsername.empty()) return "Proxy Username should not be empty.";
  if (app.syncPeriod == 0) return "Sync period should be greather than \"0\"";
  return std::string();
}

std::string validateSettingsLogged(const ClientApp& app) {
  std::string message = validateSettings(app);
  if (!message.empty()) {
    logMessage(app.appName.c_str(),
               "Can't set proxy settings, because validation has been failed: %s.\n",
               message.c_str());
  }
  return message;
}

}  // namespace corvex
