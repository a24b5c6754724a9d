// What the engine does when its library is loaded and unloaded. The shared
// library runs these from its load and unload hooks (library_hooks.cpp);
// programs and tests that link the engine's core call them themselves.
#pragma once

namespace corvex {

// Installs the libxml2 generic error handler (every message goes to the log
// under "LIBXML"), connects the exchange code's log lines to the engine log,
// and logs "Initialization performed\n".
void engineAttach();

// Destroys every ClientApp, which writes its settings file; then disconnects
// the exchange code's log lines.
void engineDetach();

}  // namespace corvex
