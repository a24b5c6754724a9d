#include "plugin/plugin_state.h"

namespace bookmark {

PluginState& pluginState() {
  // Library unload empties it (error window, start-up mutex) while the
  // platform still works, so its destruction at unmapping finds nothing to
  // tear down.
  static PluginState state;
  return state;
}

}  // namespace bookmark
