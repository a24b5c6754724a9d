// The registry copy of an application's settings: the values below
// HKEY_CURRENT_USER\<registryKeyPath>, shared by every process of the user so
// that a change made in one (the options dialog, SetSyncAuto) reaches the
// others. Numbers are REG_DWORD; strings REG_SZ with their terminating zero;
// the credentials are scrambled, or the empty text when empty.
//
//   enabled server server_port username password sync_auto sync_period
//   sync_afterstart sync_beforeexit proxy_auth proxy_username proxy_password
//   error_icon
//
// Both operations hold the ClientApp mutex for their whole duration, so a
// reader never sees a set that another process has only half written.
// Registry failures are silent.
#pragma once

namespace corvex {

class ClientApp;

// Reads the values in the order above; stops at the first one that is missing
// or does not fit its buffer (4 bytes for numbers, 1024 for strings), keeping
// what was read before it. True only when all thirteen were read.
bool loadSettingsFromRegistry(ClientApp& app);

// Writes every value in the order above, all in one registry transaction;
// a failure is silent and leaves the previous set whole.
void saveSettingsToRegistry(ClientApp& app);

}  // namespace corvex
