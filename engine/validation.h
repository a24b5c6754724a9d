// Validation of a complete setting set. It never changes the settings;
// invalid settings stay in place and only block synchronisation.
#pragma once

#include <string>

namespace corvex {

class ClientApp;

// The first failing check's message, or the empty text when all pass:
// server not empty, port not 0, user name not empty, a proxy user name when
// proxy authentication is 1, sync period not 0.
std::string validateSettings(const ClientApp& app);

// The same, and when there is a message also the log line "Can't set proxy
// settings, because validation has been failed: %s.\n" under the app's name.
std::string validateSettingsLogged(const ClientApp& app);

}  // namespace corvex
