#include "engine/synchronize.h"

#include "engine/client_app.h"

namespace corvex {

// runSynchronization: engine/procedure.cpp.

std::string runOptionsDialog(ClientApp&, std::string*) { return kProcedureNotAvailable; }

}  // namespace corvex
