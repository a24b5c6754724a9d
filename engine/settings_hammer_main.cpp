// engine-settings-hammer: writes and reads the registry copy of the settings
// in a loop, to show that a reader never sees a set half written by another
// process. Every set it writes derives all thirteen values from one number;
// every set it reads must do so too.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/client_app.h"
#include "engine/settings_registry.h"

namespace {

void fill(corvex::ClientApp& app, int32_t k) {
  const std::string n = std::to_string(k);
  app.enabled = k;
  app.server = "s" + n;
  app.serverPort = static_cast<uint32_t>(k);
  app.username = "u" + n;
  app.password = "p" + n;
  app.syncAuto = k;
  app.syncPeriod = static_cast<uint32_t>(k);
  app.syncAfterStart = k;
  app.syncBeforeExit = k;
  app.proxyAuth = k;
  app.proxyUsername = "q" + n;
  app.proxyPassword = "r" + n;
  app.errorIcon = k;
}

bool consistent(const corvex::ClientApp& app) {
  const int32_t k = app.enabled;
  const std::string n = std::to_string(k);
  return app.server == "s" + n && app.serverPort == static_cast<uint32_t>(k) &&
         app.username == "u" + n && app.password == "p" + n && app.syncAuto == k &&
         app.syncPeriod == static_cast<uint32_t>(k) && app.syncAfterStart == k &&
         app.syncBeforeExit == k && app.proxyAuth == k && app.proxyUsername == "q" + n &&
         app.proxyPassword == "r" + n && app.errorIcon == k;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::puts(
        "usage: engine-settings-hammer ROUNDS ID\n"
        "Writes and reads the registry copy of the settings of application \"Hammer\"\n"
        "ROUNDS times, in the prefix QUORVANE_PREFIX; ID (1..1000) makes the values\n"
        "it writes its own. Exits 1 when a read set is not one whole written set.");
    return 0;
  }
  if (argc != 3) {
    std::fputs("usage: engine-settings-hammer ROUNDS ID (see --help)\n", stderr);
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  const int id = std::atoi(argv[2]);
  corvex::ClientApp writer("Hammer");
  corvex::ClientApp reader("Hammer");
  int seen = 0;
  for (int i = 0; i < rounds; ++i) {
    fill(writer, id * 1000000 + i);
    corvex::saveSettingsToRegistry(writer);
    if (!corvex::loadSettingsFromRegistry(reader)) {
      std::fprintf(stderr, "round %d: the registry copy could not be read\n", i);
      return 1;
    }
    if (!consistent(reader)) {
      std::fprintf(stderr, "round %d: half-written set seen (enabled=%d server=%s port=%u)\n", i,
                   reader.enabled, reader.server.c_str(), reader.serverPort);
      return 1;
    }
    if (reader.enabled / 1000000 != id) ++seen;
  }
  std::printf("rounds=%d foreign=%d\n", rounds, seen);
  return 0;
}
