#include "engine/synchronize.h"

#include "engine/client_app.h"

namespace corvex {

// runSynchronization: engine/procedure.cpp.

// runOptionsDialog: engine/sync_options_dialog.cpp.

}  // namespace corvex
