// The UI backend chosen by QUORVANE_UI, message boxes, the notification-area
// icons and the cursor. Dialogs live in ui_dialog.cpp.
#include "platform/ui.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/message_loop.h"
#include "platform/ui_backend.h"

namespace platform {
namespace ui {
namespace {

struct BackendState {
  bool initialised = false;
  std::string setting;  // the QUORVANE_UI value it was made for
  Backend backend;
};

BackendState& backendState() {
  static auto* state = new BackendState();
  return *state;
}

void loadScript(const std::string& path, Backend* backend) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    emit("ui error cannot read script file " + quote(path));
    return;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    Action action;
    std::string error;
    switch (parseAction(line, &action, &error)) {
      case ParseResult::Action:
        backend->queue.push_back(std::move(action));
        break;
      case ParseResult::Nothing:
        break;
      case ParseResult::Error:
        emit("ui error " + path + ":" + std::to_string(number) + ": " + error);
        break;
    }
  }
}

}  // namespace

std::recursive_mutex& lock() {
  static auto* mutex = new std::recursive_mutex();
  return *mutex;
}

Backend& backend() {
  BackendState& state = backendState();
  const char* env = std::getenv("QUORVANE_UI");
  const std::string setting = env ? env : "";
  if (!state.initialised || state.setting != setting) {
    state.initialised = true;
    state.setting = setting;
    state.backend = Backend{};
    detail::setActionHook(&deliverPendingAction);
    if (setting.rfind("script:", 0) == 0) {
      state.backend.script = true;
      loadScript(setting.substr(7), &state.backend);
    } else if (!setting.empty() && setting != "console") {
      emit("ui error unknown QUORVANE_UI value " + quote(setting) + ", using console");
    }
  }
  return state.backend;
}

}  // namespace ui

std::string uiBackendName() {
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  return ui::backend().script ? "script" : "console";
}

std::string queueUserAction(const std::string& line) {
  ui::Action action;
  std::string error;
  ui::ParseResult parsed = ui::parseAction(line, &action, &error);
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  ui::Backend& backend = ui::backend();
  if (!backend.script) return "the console user interface takes no user actions";
  if (parsed == ui::ParseResult::Error) return error;
  if (parsed == ui::ParseResult::Action) backend.queue.push_back(std::move(action));
  return {};
}

size_t pendingUserActions() {
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  return ui::backend().queue.size();
}

// ---- Message boxes -------------------------------------------------------

namespace {

struct ButtonSet {
  const char* name;
  std::vector<int> buttons;
};

const ButtonSet& buttonSet(uint32_t type) {
  static const ButtonSet sets[] = {
      {"ok", {kIdOk}},
      {"okcancel", {kIdOk, kIdCancel}},
      {"abortretryignore", {kIdAbort, kIdRetry, kIdIgnore}},
      {"yesnocancel", {kIdYes, kIdNo, kIdCancel}},
      {"yesno", {kIdYes, kIdNo}},
      {"retrycancel", {kIdRetry, kIdCancel}},
  };
  uint32_t index = type & 0xF;
  return sets[index < 6 ? index : 0];
}

const char* iconKind(uint32_t type) {
  switch (type & 0xF0) {
    case kMbIconError:
      return "error";
    case kMbIconQuestion:
      return "question";
    case kMbIconWarning:
      return "warning";
    case kMbIconInformation:
      return "information";
    default:
      return "none";
  }
}

}  // namespace

int showMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   uint32_t type) {
  const ButtonSet& set = buttonSet(type);
  const size_t defaultIndex = (type >> 8) & 0xF;
  int answer = set.buttons[defaultIndex < set.buttons.size() ? defaultIndex : 0];
  std::string note;
  {
    std::lock_guard<std::recursive_mutex> guard(ui::lock());
    ui::Backend& backend = ui::backend();
    if (backend.script && !backend.queue.empty() &&
        backend.queue.front().kind == ui::Action::Kind::Answer) {
      int scripted = backend.queue.front().first;
      backend.queue.pop_front();
      bool offered = false;
      for (int b : set.buttons) offered = offered || b == scripted;
      if (offered) {
        answer = scripted;
      } else {
        note = std::string(" (no button ") + ui::answerName(scripted) + ")";
      }
    }
  }
  ui::emit("messagebox caption=" + ui::quote(caption) + " text=" + ui::quote(text) +
           " buttons=" + set.name + " icon=" + iconKind(type) + " owner=" + std::to_string(owner) +
           " answer=" + ui::answerName(answer) + note);
  return answer;
}

// ---- Notification-area icons ---------------------------------------------

namespace {

struct IconTable {
  std::vector<ShownIcon> shown;
  std::map<IconHandle, std::string> names;
};

IconTable& icons() {
  static auto* table = new IconTable();
  return *table;
}

std::string iconLine(const char* request, const ShownIcon& icon) {
  return std::string("icon ") + request + " owner=" + std::to_string(icon.owner) +
         " id=" + std::to_string(icon.id) + " icon=" + ui::quote(iconName(icon.icon)) +
         " tip=" + ui::quote(icon.tip) + " callback=" + std::to_string(icon.callbackMessage);
}

}  // namespace

IconHandle loadIconResource(const std::filesystem::path& module, int resourceId) {
  const std::string name = module.filename().string() + "," + std::to_string(resourceId);
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  auto& names = icons().names;
  for (const auto& [handle, known] : names) {
    if (known == name) return handle;
  }
  IconHandle handle = static_cast<IconHandle>(0x1000 + names.size());
  names[handle] = name;
  return handle;
}

std::string iconName(IconHandle icon) {
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  auto it = icons().names.find(icon);
  return it == icons().names.end() ? std::string() : it->second;
}

bool notifyIcon(uint32_t message, const NotifyIconData* data) {
  static const char* const kRequests[] = {"add", "modify", "delete"};
  const char* request = message < 3 ? kRequests[message] : "unknown";
  if (!data || data->cbSize != sizeof(NotifyIconData) || message > kNimDelete) {
    ui::emit(std::string("icon ") + request + " failed (bad request)");
    return false;
  }
  std::string line;
  bool ok = true;
  {
    std::lock_guard<std::recursive_mutex> guard(ui::lock());
    auto& shown = icons().shown;
    auto it = std::find_if(shown.begin(), shown.end(), [&](const ShownIcon& icon) {
      return icon.owner == data->hWnd && icon.id == data->uID;
    });
    // The tip holds at most 63 characters and its zero; a full, unterminated
    // buffer is cut there rather than read past.
    const std::string tip(data->szTip, strnlen(data->szTip, sizeof data->szTip - 1));
    if (message == kNimAdd && it == shown.end()) {
      ShownIcon icon{data->hWnd, data->uID, 0, "", 0};
      if (data->uFlags & kNifIcon) icon.icon = data->hIcon;
      if (data->uFlags & kNifTip) icon.tip = tip;
      if (data->uFlags & kNifMessage) icon.callbackMessage = data->uCallbackMessage;
      shown.push_back(icon);
      line = iconLine(request, icon);
    } else if (message == kNimModify && it != shown.end()) {
      if (data->uFlags & kNifIcon) it->icon = data->hIcon;
      if (data->uFlags & kNifTip) it->tip = tip;
      if (data->uFlags & kNifMessage) it->callbackMessage = data->uCallbackMessage;
      line = iconLine(request, *it);
    } else if (message == kNimDelete && it != shown.end()) {
      line = "icon delete owner=" + std::to_string(it->owner) + " id=" + std::to_string(it->id);
      shown.erase(it);
    } else {
      ok = false;
      line = std::string("icon ") + request + " failed owner=" + std::to_string(data->hWnd) +
             " id=" + std::to_string(data->uID);
    }
  }
  ui::emit(line);
  return ok;
}

std::vector<ShownIcon> shownIcons() {
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  return icons().shown;
}

namespace ui {

WindowHandle iconOwner(bool hasId, uint32_t id, uint32_t* iconId, uint32_t* callbackMessage) {
  std::lock_guard<std::recursive_mutex> guard(lock());
  const auto& shown = icons().shown;
  for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
    if (hasId && it->id != id) continue;
    *iconId = it->id;
    *callbackMessage = it->callbackMessage;
    return it->owner;
  }
  return 0;
}

}  // namespace ui

// ---- Cursor --------------------------------------------------------------

namespace {
CursorShape currentCursor = CursorShape::Arrow;
}

CursorShape setCursorShape(CursorShape shape) {
  CursorShape previous;
  {
    std::lock_guard<std::recursive_mutex> guard(ui::lock());
    previous = currentCursor;
    currentCursor = shape;
  }
  if (previous != shape) ui::emit(shape == CursorShape::Wait ? "cursor wait" : "cursor arrow");
  return previous;
}

CursorShape cursorShape() {
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  return currentCursor;
}

WaitCursor::WaitCursor() : previous_(setCursorShape(CursorShape::Wait)) {}

WaitCursor::~WaitCursor() { setCursorShape(previous_); }

}  // namespace platform
