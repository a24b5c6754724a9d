// The engine library's load and unload hooks. Only the shared library
// contains this file; the core that tests link does not.
//
// The host links the engine through its import table, so the engine must be
// initialised before the host's own load handler runs, and torn down after
// the host's unload handler (which may still synchronise). The dynamic loader
// gives exactly that order for the initialiser and finaliser of a static
// object: a library's initialisers run after those of its dependencies and
// before those of the libraries that depend on it, and in reverse at unload.
// The work is kept small: an error handler, one log line, and at unload one
// settings file per application.
#include "engine/engine_lifetime.h"

namespace {

struct EngineLibrary {
  EngineLibrary() { corvex::engineAttach(); }
  ~EngineLibrary() { corvex::engineDetach(); }
};

EngineLibrary g_engineLibrary;

}  // namespace
