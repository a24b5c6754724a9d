#include "plugin/plugin_state.h"

namespace bookmark {

PluginState& pluginState() {
  // Never destroyed by static destruction: library unload empties it while
  // the platform still works, and a process that exits without unloading
  // must not tear down windows and mutexes from a destructor.
  static PluginState* state = new PluginState();
  return *state;
}

}  // namespace bookmark
