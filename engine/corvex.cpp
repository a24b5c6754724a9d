// The thirteen exported functions. None lets an exception reach the host: a
// failure inside gives the neutral answer (false, 0, nothing done) or, for
// Synchronize, an error text.
#include "engine/corvex.h"

#include <exception>

#include "engine/client_app.h"
#include "engine/engine_log.h"
#include "engine/settings_registry.h"
#include "engine/synchronize.h"
#include "engine/validation.h"

using corvex::ClientApp;
using corvex::getClientApp;

namespace {

// Settings queries answer true only for the exact value 1.
bool isOne(int32_t value) { return value == 1; }

std::string synchronizeApp(bool showDialog, const std::string& appName, std::string* data) {
  ClientApp* app = getClientApp(appName);
  if (showDialog) {
    corvex::loadSettingsFromRegistry(*app);
    std::string error = corvex::runOptionsDialog(*app, data);
    corvex::saveSettingsToRegistry(*app);
    return error;
  }
  std::string message = corvex::validateSettings(*app);
  if (!message.empty()) {
    corvex::logMessage(app->appName.c_str(), "Validation error: %s.\n", message.c_str());
    return message;
  }
  return corvex::runSynchronization(*app, data);
}

}  // namespace

bool Synchronize(bool showDialog, const std::string& appName, std::string* data,
                 std::string* error) {
  std::string text;
  try {
    std::string scratch;
    text = synchronizeApp(showDialog, appName, data ? data : &scratch);
  } catch (const std::exception& e) {
    text = e.what();
    if (text.empty()) text = "Synchronization has been failed";
  } catch (...) {
    text = "Synchronization has been failed";
  }
  const bool ok = text.empty();
  if (error) {
    try {
      *error = std::move(text);
    } catch (...) {
    }
  }
  return ok;
}

bool SyncEnabled(const std::string& appName, bool reload) {
  try {
    ClientApp* app = getClientApp(appName);
    if (reload) corvex::loadSettingsFromRegistry(*app);
    return isOne(app->enabled);
  } catch (...) {
    return false;
  }
}

bool SyncAfterStart(const std::string& appName) {
  try {
    return isOne(getClientApp(appName)->syncAfterStart);
  } catch (...) {
    return false;
  }
}

bool SyncBeforeExit(const std::string& appName) {
  try {
    return isOne(getClientApp(appName)->syncBeforeExit);
  } catch (...) {
    return false;
  }
}

bool SyncAuto(const std::string& appName) {
  try {
    return isOne(getClientApp(appName)->syncAuto);
  } catch (...) {
    return false;
  }
}

void SetSyncAuto(const std::string& appName, int value) {
  try {
    ClientApp* app = getClientApp(appName);
    app->syncAuto = value;
    corvex::saveSettingsToRegistry(*app);
  } catch (...) {
  }
}

int SyncInterval(const std::string& appName) {
  try {
    return static_cast<int>(getClientApp(appName)->syncPeriod);
  } catch (...) {
    return 0;
  }
}

void InitInstanceCount(const std::string& appName) {
  try {
    corvex::writeInstanceCount(*getClientApp(appName), 0);
  } catch (...) {
  }
}

void IncInstanceCount(const std::string& appName) {
  try {
    ClientApp* app = getClientApp(appName);
    // One hold over the read and the write (the mutex is recursive), so that
    // two processes starting at once cannot both count from the same value.
    corvex::ClientAppLock hold(*app);
    corvex::writeInstanceCount(*app, corvex::readInstanceCount(*app) + 1u);
  } catch (...) {
  }
}

void DecInstanceCount(const std::string& appName) {
  try {
    ClientApp* app = getClientApp(appName);
    corvex::ClientAppLock hold(*app);
    corvex::writeInstanceCount(*app, corvex::readInstanceCount(*app) - 1u);
  } catch (...) {
  }
}

unsigned long GetInstanceCount(const std::string& appName) {
  try {
    return corvex::readInstanceCount(*getClientApp(appName));
  } catch (...) {
    return 0;
  }
}

int ShowErrorIcon(const std::string& appName) {
  try {
    return getClientApp(appName)->errorIcon;
  } catch (...) {
    return 0;
  }
}

void SetRegisterFunc(void (*registerFunc)()) { corvex::setRegisterFunc(registerFunc); }
