#include "engine/synchronize.h"

#include "engine/client_app.h"

namespace corvex {

std::string runSynchronization(ClientApp&, std::string*) { return kProcedureNotAvailable; }

std::string runOptionsDialog(ClientApp&, std::string*) { return kProcedureNotAvailable; }

}  // namespace corvex
