// Dialogs: the window table, the controls, the modal loop and the delivery of
// scripted user actions.
//
// Geometry: a screen of 1024 x 768 pixels; dialog units become pixels with
// the base units of the 8-point "MS Sans Serif" font. A caption adds 19
// pixels at the top; a resizable frame (kWsThickFrame) is 4 pixels wide on
// every side, any other frame 3.
#include <algorithm>
#include <charconv>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/message_loop.h"
#include "platform/ui_backend.h"

namespace platform {

Dialog::~Dialog() = default;
DialogHandler::~DialogHandler() = default;
void DialogHandler::onInitDialog(Dialog&) {}
bool DialogHandler::onCommand(Dialog&, int, int) { return false; }
void DialogHandler::onActivate(Dialog&, bool) {}
void DialogHandler::onSize(Dialog&, int, int) {}
bool DialogHandler::onMinTrackSize(Dialog&, int*, int*) { return false; }
bool DialogHandler::onClose(Dialog&) { return false; }
void DialogHandler::onMessage(Dialog&, uint32_t, uintptr_t, intptr_t) {}
void DialogHandler::onDestroy(Dialog&) {}

Rect dialogUnitsToPixels(const Rect& u) {
  return {u.left * 6 / 4, u.top * 13 / 8, u.right * 6 / 4, u.bottom * 13 / 8};
}

namespace {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kCaptionHeight = 19;

const char* kindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
      return "button";
    case ControlKind::DefPushButton:
      return "defbutton";
    case ControlKind::CheckBox:
      return "checkbox";
    case ControlKind::Edit:
      return "edit";
    case ControlKind::Static:
      return "static";
    case ControlKind::GroupBox:
      return "groupbox";
    case ControlKind::UpDown:
      return "updown";
  }
  return "control";
}

std::string rectText(const Rect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

struct Control {
  ControlTemplate t;
  std::string text;
  int check = 0;
  bool enabled = true;
  bool visible = true;
  Rect rect;  // client pixels
  int lower = 0, upper = 100, position = 0, buddy = 0;
  int firstVisibleLine = 0;
};

class DialogImpl;

struct WindowTable {
  std::map<WindowHandle, std::unique_ptr<DialogImpl>> dialogs;
  std::vector<WindowHandle> zOrder;  // visible modeless dialogs, topmost last
  WindowHandle next = 1001;          // apart from the host's window numbers
};

WindowTable& windows() {
  static auto* table = new WindowTable();
  return *table;
}

// Per thread: the modal dialogs being run (innermost last), whether a "wait"
// action is letting time pass, how deep handler calls are nested, and the
// dialogs destroyed meanwhile (freed when no handler of the thread runs).
thread_local std::vector<DialogImpl*> modalStack;
thread_local bool waiting = false;
thread_local int handlerDepth = 0;
thread_local std::vector<std::unique_ptr<DialogImpl>> graveyard;

struct HandlerScope {
  HandlerScope() { ++handlerDepth; }
  ~HandlerScope() {
    if (--handlerDepth == 0) graveyard.clear();
  }
};

class DialogImpl final : public Dialog {
 public:
  DialogImpl(WindowHandle handle, const DialogTemplate& t, DialogHandler* handler,
             WindowHandle owner, bool modal)
      : handle_(handle),
        t_(t),
        handler_(handler),
        owner_(owner),
        modal_(modal),
        thread_(std::this_thread::get_id()) {
    const Rect client = dialogUnitsToPixels({0, 0, t.rect.width(), t.rect.height()});
    const int frame = (t.style & kWsThickFrame) ? 4 : 3;
    const int caption = (t.style & kWsCaption) == kWsCaption ? kCaptionHeight : 0;
    const int width = client.width() + 2 * frame, height = client.height() + 2 * frame + caption;
    Rect at = dialogUnitsToPixels(t.rect);
    int left = at.left, top = at.top;
    if (t.style & kDsCenter) left = (kScreenWidth - width) / 2, top = (kScreenHeight - height) / 2;
    window_ = {left, top, left + width, top + height};
    for (size_t i = 0; i < t.controls.size(); ++i) {
      Control c;
      c.t = t.controls[i];
      c.text = c.t.kind == ControlKind::UpDown ? "" : c.t.text;
      c.enabled = !(c.t.style & kWsDisabled);
      c.rect = dialogUnitsToPixels(c.t.rect);
      if (c.t.kind == ControlKind::UpDown && (c.t.style & kUdsAutoBuddy) && i > 0) {
        c.buddy = t.controls[i - 1].id;
      }
      controls_.push_back(std::move(c));
    }
  }

  // ---- Dialog ----
  WindowHandle handle() const override { return handle_; }
  int templateId() const override { return t_.id; }
  bool isModal() const override { return modal_; }

  bool setItemText(int id, const std::string& text) override {
    Control* c = find(id);
    if (!c || c->t.kind == ControlKind::UpDown) return false;
    if (c->text == text) return true;
    c->text = text;
    changed(*c);
    if (c->t.kind == ControlKind::Edit) command(id, kEnChange);
    return true;
  }
  std::string itemText(int id) const override {
    const Control* c = find(id);
    return c ? c->text : std::string();
  }
  bool setItemCheck(int id, int state) override {
    Control* c = find(id);
    if (!c || c->t.kind != ControlKind::CheckBox) return false;
    state = state ? 1 : 0;
    if (c->check != state) c->check = state, changed(*c);
    return true;
  }
  int itemCheck(int id) const override {
    const Control* c = find(id);
    return c && c->t.kind == ControlKind::CheckBox ? c->check : 0;
  }
  bool enableItem(int id, bool enable) override {
    Control* c = find(id);
    if (!c) return false;
    if (c->enabled != enable) c->enabled = enable, changed(*c);
    return true;
  }
  bool itemEnabled(int id) const override {
    const Control* c = find(id);
    return c && c->enabled;
  }
  bool showItem(int id, bool show) override {
    Control* c = find(id);
    if (!c) return false;
    if (c->visible != show) c->visible = show, changed(*c);
    return true;
  }
  bool itemVisible(int id) const override {
    const Control* c = find(id);
    return c && c->visible;
  }
  bool setUpDownRange(int id, int lower, int upper) override {
    Control* c = find(id);
    if (!c || c->t.kind != ControlKind::UpDown) return false;
    c->lower = lower, c->upper = upper;
    c->position = std::clamp(c->position, std::min(lower, upper), std::max(lower, upper));
    changed(*c);
    return true;
  }
  bool upDownRange(int id, int* lower, int* upper) const override {
    const Control* c = find(id);
    if (!c || c->t.kind != ControlKind::UpDown) return false;
    *lower = c->lower, *upper = c->upper;
    return true;
  }
  bool setUpDownBuddy(int id, int buddyId) override {
    Control* c = find(id);
    if (!c || c->t.kind != ControlKind::UpDown || !find(buddyId)) return false;
    c->buddy = buddyId;
    changed(*c);
    return true;
  }
  int upDownBuddy(int id) const override {
    const Control* c = find(id);
    return c && c->t.kind == ControlKind::UpDown ? c->buddy : 0;
  }
  bool moveItem(int id, const Rect& pixels) override {
    Control* c = find(id);
    if (!c) return false;
    if (!(c->rect == pixels)) c->rect = pixels, changed(*c);
    return true;
  }
  Rect itemRect(int id) const override {
    const Control* c = find(id);
    return c ? c->rect : Rect{};
  }
  bool scrollItemToEnd(int id) override {
    Control* c = find(id);
    if (!c || c->t.kind != ControlKind::Edit || !(c->t.style & kEsMultiLine)) return false;
    c->firstVisibleLine = lastLine(c->text);
    return true;
  }
  int itemFirstVisibleLine(int id) const override {
    const Control* c = find(id);
    return c ? c->firstVisibleLine : 0;
  }

  Rect clientRect() const override {
    const int frame = (t_.style & kWsThickFrame) ? 4 : 3;
    const int caption = (t_.style & kWsCaption) == kWsCaption ? kCaptionHeight : 0;
    return {0, 0, std::max(0, window_.width() - 2 * frame),
            std::max(0, window_.height() - 2 * frame - caption)};
  }
  Rect windowRect() const override { return window_; }
  void setWindowSize(int width, int height) override {
    if (window_.width() == width && window_.height() == height) return;
    window_.right = window_.left + width;
    window_.bottom = window_.top + height;
    const Rect client = clientRect();
    ui::emit(head("size") + " width=" + std::to_string(width) +
             " height=" + std::to_string(height) + " client=" + std::to_string(client.width()) +
             "x" + std::to_string(client.height()));
    HandlerScope scope;
    handler_->onSize(*this, client.width(), client.height());
  }
  void show(bool visible) override {
    if (visible_ == visible) return;
    visible_ = visible;
    {
      std::lock_guard<std::recursive_mutex> guard(ui::lock());
      auto& z = windows().zOrder;
      z.erase(std::remove(z.begin(), z.end(), handle_), z.end());
      if (visible && !modal_) z.push_back(handle_);
    }
    if (!visible) {
      ui::emit(head("hide"));
      return;
    }
    ui::emit(head("show") + " caption=" + ui::quote(t_.caption) + " width=" +
             std::to_string(window_.width()) + " height=" + std::to_string(window_.height()));
    for (const Control& c : controls_) ui::emit(controlLine(c));
  }
  bool visible() const override { return visible_; }
  void bringToTop() override {
    if (!visible_ || modal_) return;
    std::lock_guard<std::recursive_mutex> guard(ui::lock());
    auto& z = windows().zOrder;
    z.erase(std::remove(z.begin(), z.end(), handle_), z.end());
    z.push_back(handle_);
  }
  void invalidate() override {}
  bool end(int result) override { return finish(result, ""); }
  bool finish(int result, const char* note) {
    if (!modal_ || ended_) return false;
    ended_ = true;
    result_ = result;
    ui::emit(head("end") + " result=" + std::to_string(result) + note);
    return true;
  }

  // ---- Inside the UI ----
  DialogHandler* handler() const { return handler_; }
  bool ended() const { return ended_; }
  int result() const { return result_; }
  std::thread::id thread() const { return thread_; }
  const DialogTemplate& dialogTemplate() const { return t_; }

  std::string head(const char* event) const {
    return std::string("dialog ") + event + " window=" + std::to_string(handle_) +
           " template=" + std::to_string(t_.id);
  }

  void announceCreation() {
    ui::emit(head("create") + (modal_ ? " modal" : " modeless") +
             " owner=" + std::to_string(owner_) + " caption=" + ui::quote(t_.caption));
  }

  // WM_COMMAND, with the default dialog procedure's handling of IDOK/IDCANCEL.
  void command(int id, int code) {
    bool handled;
    {
      HandlerScope scope;
      handled = handler_->onCommand(*this, id, code);
    }
    if (!handled && modal_ && code == kBnClicked && (id == kIdOk || id == kIdCancel)) end(id);
  }

  void setActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    ui::emit(head(active ? "activate" : "deactivate"));
    HandlerScope scope;
    handler_->onActivate(*this, active);
  }

  // Delivers a user action meant for this dialog.
  void perform(const ui::Action& a) {
    using Kind = ui::Action::Kind;
    const std::string who = " window=" + std::to_string(handle_);
    const std::string idText = " id=" + std::to_string(a.id);
    // click, type and spin name their control after the window.
    auto ignored = [&](const std::string& verb, const std::string& why) {
      const bool withId = verb == "click" || verb == "type" || verb == "spin";
      ui::emit("user " + verb + who + (withId ? idText : "") + " ignored (" + why + ")");
    };
    Control* c = (a.kind == Kind::Click || a.kind == Kind::Type || a.kind == Kind::Spin)
                     ? find(a.id)
                     : nullptr;
    switch (a.kind) {
      case Kind::Click:
        if (!c) return ignored("click", "no such control");
        if (!c->visible || !c->enabled) return ignored("click", "disabled or hidden");
        if (c->t.kind != ControlKind::PushButton && c->t.kind != ControlKind::DefPushButton &&
            c->t.kind != ControlKind::CheckBox) {
          return ignored("click", std::string(kindName(c->t.kind)) + " sends nothing");
        }
        ui::emit("user click" + who + idText);
        if (c->t.kind == ControlKind::CheckBox) setItemCheck(a.id, c->check ? 0 : 1);
        command(a.id, kBnClicked);
        return;
      case Kind::Type:
        if (!c || c->t.kind != ControlKind::Edit) return ignored("type", "no such edit");
        if (!c->visible || !c->enabled || (c->t.style & kEsReadOnly)) {
          return ignored("type", "disabled, hidden or read-only");
        }
        ui::emit("user type" + who + idText + " text=" + ui::quote(a.text));
        setItemText(a.id, a.text);
        return;
      case Kind::Spin: {
        if (!c || c->t.kind != ControlKind::UpDown) return ignored("spin", "no up-down");
        if (!c->visible || !c->enabled) return ignored("spin", "disabled or hidden");
        ui::emit("user spin" + who + idText + " delta=" + std::to_string(a.first));
        // The buddy's number is where the arrows start from, as the control
        // reads it back before moving.
        if (Control* b = find(c->buddy); b && (c->t.style & kUdsSetBuddyInt)) {
          int number = 0;
          const char* text = b->text.c_str();
          auto [end, ec] = std::from_chars(text, text + b->text.size(), number);
          if (ec == std::errc() && end != text) c->position = number;
        }
        const int step = c->upper >= c->lower ? a.first : -a.first;
        const long long moved = static_cast<long long>(c->position) + step;
        c->position = static_cast<int>(std::clamp<long long>(moved, std::min(c->lower, c->upper),
                                                             std::max(c->lower, c->upper)));
        changed(*c);
        if (find(c->buddy) && (c->t.style & kUdsSetBuddyInt)) {
          setItemText(c->buddy, std::to_string(c->position));
        }
        return;
      }
      case Kind::Escape:
        ui::emit("user escape" + who);
        command(kIdCancel, kBnClicked);
        return;
      case Kind::Close: {
        if (!(t_.style & kWsSysMenu)) return ignored("close", "no system menu");
        ui::emit("user close" + who);
        bool handled;
        {
          HandlerScope scope;
          handled = handler_->onClose(*this);
        }
        if (!handled) command(kIdCancel, kBnClicked);
        return;
      }
      case Kind::Deactivate:
        ui::emit("user deactivate" + who);
        setActive(false);
        return;
      case Kind::Activate:
        ui::emit("user activate" + who);
        setActive(true);
        return;
      case Kind::Resize: {
        if (!(t_.style & kWsThickFrame)) return ignored("resize", "fixed frame");
        int width = a.first, height = a.second;
        int minWidth = 0, minHeight = 0;
        {
          HandlerScope scope;
          if (handler_->onMinTrackSize(*this, &minWidth, &minHeight)) {
            width = std::max(width, minWidth);
            height = std::max(height, minHeight);
          }
        }
        ui::emit("user resize" + who + " width=" + std::to_string(a.first) +
                 " height=" + std::to_string(a.second));
        setWindowSize(width, height);
        return;
      }
      default:
        return;
    }
  }

 private:
  Control* find(int id) {
    if (id == kIdStatic) return nullptr;
    for (Control& c : controls_) {
      if (c.t.id == id) return &c;
    }
    return nullptr;
  }
  const Control* find(int id) const { return const_cast<DialogImpl*>(this)->find(id); }

  static int lastLine(const std::string& text) {
    int lines = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '\r' && text[i + 1] == '\n') ++lines, ++i;
    }
    // A text that ends with a line break has an empty last line.
    return lines;
  }

  std::string controlLine(const Control& c) const {
    std::string line = "control window=" + std::to_string(handle_) +
                       " id=" + std::to_string(c.t.id) + " kind=" + kindName(c.t.kind);
    std::string shown = c.text;
    if (c.t.kind == ControlKind::Edit && (c.t.style & kEsPassword)) {
      shown.assign(ansiToUtf16(c.text).size(), '*');
    }
    if (c.t.kind != ControlKind::UpDown) line += " text=" + ui::quote(shown);
    if (c.t.kind == ControlKind::CheckBox) line += " value=" + std::to_string(c.check);
    if (c.t.kind == ControlKind::UpDown) {
      line += " value=" + std::to_string(c.position) + " range=" + std::to_string(c.lower) + ".." +
              std::to_string(c.upper) + " buddy=" + std::to_string(c.buddy);
    }
    line += std::string(" enabled=") + (c.enabled ? "1" : "0") +
            " visible=" + (c.visible ? "1" : "0") + " rect=" + rectText(c.rect);
    return line;
  }

  // A control changed: a visible dialog shows it.
  void changed(const Control& c) {
    if (visible_) ui::emit(controlLine(c));
  }

  WindowHandle handle_;
  DialogTemplate t_;
  DialogHandler* handler_;
  WindowHandle owner_;
  bool modal_;
  std::thread::id thread_;
  Rect window_;
  std::vector<Control> controls_;
  bool visible_ = false;
  bool active_ = false;
  bool ended_ = false;
  int result_ = 0;
};

DialogImpl* findImpl(WindowHandle window) {
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  auto& dialogs = windows().dialogs;
  auto it = dialogs.find(window);
  return it == dialogs.end() ? nullptr : it->second.get();
}

DialogImpl* createDialog(const DialogTemplate& t, DialogHandler* handler, WindowHandle owner,
                         bool modal) {
  DialogImpl* dialog;
  {
    std::lock_guard<std::recursive_mutex> guard(ui::lock());
    ui::backend();  // reads QUORVANE_UI (and the script) before the first line
    WindowTable& table = windows();
    WindowHandle handle = table.next++;
    auto owned = std::make_unique<DialogImpl>(handle, t, handler, owner, modal);
    dialog = owned.get();
    table.dialogs[handle] = std::move(owned);
  }
  dialog->announceCreation();
  HandlerScope scope;
  handler->onInitDialog(*dialog);
  return dialog;
}

void removeDialog(DialogImpl* dialog) {
  {
    HandlerScope scope;
    dialog->handler()->onDestroy(*dialog);
    ui::emit(dialog->head("destroy"));
    std::lock_guard<std::recursive_mutex> guard(ui::lock());
    WindowTable& table = windows();
    auto& z = table.zOrder;
    z.erase(std::remove(z.begin(), z.end(), dialog->handle()), z.end());
    auto it = table.dialogs.find(dialog->handle());
    if (it != table.dialogs.end()) {
      graveyard.push_back(std::move(it->second));
      table.dialogs.erase(it);
    }
  }
}

// Nobody answers a modal dialog: its close control is pressed, and a dialog
// that stays open after that is ended with the close control's code.
void closeUnanswered(DialogImpl* dialog) {
  const int id = dialog->dialogTemplate().closeControlId;
  ui::emit("user click window=" + std::to_string(dialog->handle()) + " id=" + std::to_string(id) +
           " (nobody answers)");
  dialog->command(id, kBnClicked);
  if (!dialog->ended()) dialog->finish(id, " (forced)");
}

// The window that user actions go to on this thread now: the innermost modal
// dialog, or else the topmost visible modeless dialog.
DialogImpl* actionTarget() {
  if (!modalStack.empty()) return modalStack.back()->ended() ? nullptr : modalStack.back();
  std::lock_guard<std::recursive_mutex> guard(ui::lock());
  auto& z = windows().zOrder;
  for (auto it = z.rbegin(); it != z.rend(); ++it) {
    DialogImpl* d = findImpl(*it);
    if (d && d->thread() == std::this_thread::get_id()) return d;
  }
  return nullptr;
}

}  // namespace

int runModalDialog(const DialogTemplate& t, DialogHandler* handler, WindowHandle owner) {
  if (!handler) return -1;
  DialogImpl* dialog = createDialog(t, handler, owner, true);
  if (!dialog->ended()) {
    dialog->show(true);
    HandlerScope scope;
    dialog->setActive(true);
  }
  // A modal dialog opened while a "wait" action lets time pass takes actions.
  const bool wasWaiting = waiting;
  waiting = false;
  modalStack.push_back(dialog);
  while (!dialog->ended()) {
    HandlerScope scope;
    dispatchPendingMessages();  // the actions meant for this dialog, and timers
    if (!dialog->ended()) closeUnanswered(dialog);
  }
  modalStack.pop_back();
  waiting = wasWaiting;
  const int result = dialog->result();
  HandlerScope scope;
  removeDialog(dialog);
  return result;
}

WindowHandle createModelessDialog(const DialogTemplate& t, DialogHandler* handler,
                                  WindowHandle owner) {
  if (!handler) return 0;
  DialogImpl* dialog = createDialog(t, handler, owner, false);
  const WindowHandle handle = dialog->handle();
  if ((t.style & kWsVisible) && findImpl(handle)) dialog->show(true);
  return handle;
}

bool destroyDialog(WindowHandle window) {
  DialogImpl* dialog = findImpl(window);
  if (!dialog || dialog->isModal()) return false;
  HandlerScope scope;
  removeDialog(dialog);
  return true;
}

Dialog* findDialog(WindowHandle window) { return findImpl(window); }

bool sendDialogMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  DialogImpl* dialog = findImpl(window);
  if (!dialog) return false;
  HandlerScope scope;
  dialog->handler()->onMessage(*dialog, message, wParam, lParam);
  return true;
}

namespace ui {

bool deliverPendingAction() {
  if (waiting) return false;
  Action action;
  DialogImpl* target = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(lock());
    Backend& b = backend();
    if (!b.script || b.queue.empty()) return false;
    const Action& head = b.queue.front();
    uint32_t iconId = 0, callback = 0;
    switch (head.kind) {
      case Action::Kind::Answer:
        return false;  // waits for a message box
      case Action::Kind::Icon:
        if (!iconOwner(head.hasId, static_cast<uint32_t>(head.id), &iconId, &callback)) {
          return false;
        }
        break;
      case Action::Kind::Wait:
        break;
      default:
        target = actionTarget();
        if (!target) return false;
    }
    action = std::move(b.queue.front());
    b.queue.pop_front();
  }
  HandlerScope scope;
  switch (action.kind) {
    case Action::Kind::Icon:
      clickIcon(action);
      break;
    case Action::Kind::Wait:
      emit("user wait " + action.source.substr(action.source.find_last_of(' ') + 1));
      waiting = true;
      advanceClockAndDispatch(action.milliseconds);
      waiting = false;
      break;
    default:
      target->perform(action);
  }
  return true;
}

bool clickIcon(const Action& action) {
  uint32_t id = 0, callback = 0;
  WindowHandle owner = iconOwner(action.hasId, static_cast<uint32_t>(action.id), &id, &callback);
  if (!owner) return false;
  const std::string who = " owner=" + std::to_string(owner) + " id=" + std::to_string(id);
  if (!callback || !findImpl(owner)) {
    emit("user icon" + who + " ignored (no callback window)");
    return true;
  }
  emit("user icon" + who);
  sendDialogMessage(owner, callback, id, kWmLButtonDown);
  return true;
}

}  // namespace ui
}  // namespace platform
