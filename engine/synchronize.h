// The synchronisation procedure run by Synchronize, and the options dialog
// path. Both return the error text, empty on success.
#pragma once

#include <string>

namespace corvex {

class ClientApp;

inline constexpr char kProcedureNotAvailable[] = "Synchronization procedure is not available";

// One synchronisation of *data against the service, on settings that passed
// validation. On success *data becomes the document to apply (or empty); on
// failure it is left as it was.
std::string runSynchronization(ClientApp& app, std::string* data);

// The options dialog for the app, shown modally; *data becomes the dialog's
// output document when a synchronisation ran in it.
std::string runOptionsDialog(ClientApp& app, std::string* data);

}  // namespace corvex
