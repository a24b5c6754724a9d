// corvex-settings: shows the engine's view of one application's settings as
// a new engine would build them in this prefix (settings file, else the
// registry copy, else the defaults), the settings file path and the log path.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/client_app.h"
#include "engine/engine_log.h"
#include "engine/settings_file.h"
#include "engine/validation.h"

namespace {

void usage(FILE* out) {
  std::fputs(
      "usage: corvex-settings [--help] APPLICATION\n"
      "Shows the settings the engine uses for APPLICATION (e.g. Explorer) in the\n"
      "prefix QUORVANE_PREFIX: the settings file, else the registry copy, else the\n"
      "defaults; then the settings file path, the log path and the validation result.\n"
      "Passwords are shown only as set or empty. Nothing is written but the log\n"
      "and, when a settings file was read, its copy in the registry.\n",
      out);
}

const char* secret(const std::string& value) { return value.empty() ? "(empty)" : "(set)"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    usage(stdout);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    usage(stderr);
    return 2;
  }
  std::string name = argv[1];
  corvex::ClientApp* app = corvex::getClientApp(name);
  std::string validation = corvex::validateSettings(*app);

  std::printf("application      %s\n", app->appName.c_str());
  std::printf("enabled          %d\n", app->enabled);
  std::printf("server           %s\n", app->server.c_str());
  std::printf("server port      %u\n", app->serverPort);
  std::printf("username         %s\n", app->username.c_str());
  std::printf("password         %s\n", secret(app->password));
  std::printf("sync auto        %d\n", app->syncAuto);
  std::printf("sync period      %u minutes\n", app->syncPeriod);
  std::printf("sync after start %d\n", app->syncAfterStart);
  std::printf("sync before exit %d\n", app->syncBeforeExit);
  std::printf("proxy auth       %d\n", app->proxyAuth);
  std::printf("proxy username   %s\n", app->proxyUsername.c_str());
  std::printf("proxy password   %s\n", secret(app->proxyPassword));
  std::printf("error icon       %d\n", app->errorIcon);
  std::printf("registry key     HKEY_CURRENT_USER\\%s\n", app->registryKeyPath.c_str());
  std::printf("settings file    %s\n", corvex::settingsFilePath(*app).string().c_str());
  std::printf("log file         %s\n", corvex::logFilePath().string().c_str());
  std::printf("validation       %s\n", validation.empty() ? "passed" : validation.c_str());
  // The ClientApp is not destroyed: that would write the settings file.
  return 0;
}
