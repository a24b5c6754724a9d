// User-interface services: message boxes, dialogs built from templates
// (modal and modeless), the notification-area icon and the wait cursor.
//
// Nothing is drawn. Every message box, icon change and window or dialog change
// becomes one line on standard output (flushed), in the formats listed in
// docs/host.md, so that a session reads like what a user would have seen.
// QUORVANE_UI chooses who plays the user:
//
//   console        (default) nobody: message boxes get their default button,
//                  a modal dialog is printed and closed at once as if its close
//                  control (DialogTemplate::closeControlId, IDCANCEL by
//                  default) had been pressed.
//   script:FILE    user actions read from FILE, one per line, and appended at
//                  run time with queueUserAction. They are delivered in order
//                  when something can take them (see queueUserAction); when a
//                  modal dialog finds no action for it, it closes as with the
//                  console backend.
//
// Texts are byte strings in the ANSI code page, as the "A" functions of the
// system take them; output lines carry them converted to UTF-8.
//
// Windows belong to the thread that created them; handlers run on that thread,
// only while it dispatches messages (platform/message_loop.h) or inside the
// call that caused them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"

namespace platform {

// Window and icon handles are 32-bit values (as user handles are on the
// system), which keeps NotifyIconData at its 88 bytes. 0 is "none".
using WindowHandle = uint32_t;
using IconHandle = uint32_t;

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// ---- Message boxes -------------------------------------------------------

// Buttons (MB_OK ...), icons (MB_ICONERROR ...) and the default button.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbAbortRetryIgnore = 0x2;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr uint32_t kMbDefButton2 = 0x100;
inline constexpr uint32_t kMbDefButton3 = 0x200;

// Answers and the standard command identifiers (IDOK ...).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
inline constexpr int kIdStatic = -1;  // controls without an identifier

// A UTF-8 text in double quotes, with \\, \", \r, \n, \t and the other
// control bytes (as \xHH) escaped: how the stand-in's event lines show texts.
PLATFORM_API std::string quoteText(const std::string& text);

// MessageBoxA: shows the box and returns the button that closed it: the
// scripted answer when the next user action is one ("answer yes"), otherwise
// the default button (the first, or the one kMbDefButton2/3 names). An answer
// that is not among the box's buttons is ignored in favour of the default.
PLATFORM_API int showMessageBox(WindowHandle owner, const std::string& text,
                                const std::string& caption, uint32_t type);

// ---- Dialog templates ----------------------------------------------------

enum class ControlKind { PushButton, DefPushButton, CheckBox, Edit, Static, GroupBox, UpDown };

// Window styles (WS_*, DS_*) and control styles (ES_*, SS_*, UDS_*), with the
// system's values. Only those that change behaviour here are interpreted:
// kWsVisible, kWsCaption, kWsThickFrame, kWsDisabled, kEsPassword,
// kEsReadOnly, kEsMultiLine, kUdsAutoBuddy, kUdsSetBuddyInt; the rest are kept
// and printed for the record.
inline constexpr uint32_t kWsPopup = 0x80000000;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsDisabled = 0x08000000;
inline constexpr uint32_t kWsCaption = 0x00C00000;
inline constexpr uint32_t kWsBorder = 0x00800000;
inline constexpr uint32_t kWsVScroll = 0x00200000;
inline constexpr uint32_t kWsHScroll = 0x00100000;
inline constexpr uint32_t kWsSysMenu = 0x00080000;
inline constexpr uint32_t kWsThickFrame = 0x00040000;
inline constexpr uint32_t kWsTabStop = 0x00010000;
inline constexpr uint32_t kDsModalFrame = 0x80;
inline constexpr uint32_t kDsCenter = 0x800;
inline constexpr uint32_t kWsExTopmost = 0x8;  // extended style
inline constexpr uint32_t kEsMultiLine = 0x4;
inline constexpr uint32_t kEsPassword = 0x20;
inline constexpr uint32_t kEsAutoVScroll = 0x40;
inline constexpr uint32_t kEsAutoHScroll = 0x80;
inline constexpr uint32_t kEsReadOnly = 0x800;
inline constexpr uint32_t kSsRight = 0x2;
inline constexpr uint32_t kUdsSetBuddyInt = 0x2;
inline constexpr uint32_t kUdsAlignRight = 0x4;
inline constexpr uint32_t kUdsAutoBuddy = 0x10;
inline constexpr uint32_t kUdsArrowKeys = 0x20;

struct ControlTemplate {
  int id = kIdStatic;
  ControlKind kind = ControlKind::Static;
  std::string text;
  Rect rect;  // dialog units: left, top, right, bottom
  uint32_t style = 0;
};

struct DialogTemplate {
  int id = 0;  // the resource number, printed to identify the dialog
  std::string caption;
  Rect rect;  // dialog units
  uint32_t style = kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame;
  uint32_t exStyle = 0;
  std::string font = "MS Sans Serif";
  int fontSize = 8;
  std::vector<ControlTemplate> controls;
  // The control "pressed" when nobody answers a modal dialog.
  int closeControlId = kIdCancel;
};

// Dialog units to pixels for the 8-point "MS Sans Serif" font: base units
// 6 x 13, so x * 6 / 4 and y * 13 / 8 (MapDialogRect).
PLATFORM_API Rect dialogUnitsToPixels(const Rect& units);

// ---- Dialogs -------------------------------------------------------------

// Notification codes of WM_COMMAND.
inline constexpr int kBnClicked = 0;
inline constexpr int kEnChange = 0x300;

// Window messages a handler may see in onMessage.
inline constexpr uint32_t kWmUser = 0x400;
inline constexpr uint32_t kWmLButtonDown = 0x201;

// A live dialog, as its handler and its creator see it. Item operations
// return false (and do nothing) for an identifier the dialog has no control
// of, or a control of the wrong kind.
class PLATFORM_API Dialog {
 public:
  virtual ~Dialog();
  virtual WindowHandle handle() const = 0;
  virtual int templateId() const = 0;
  virtual bool isModal() const = 0;

  // Window text in the ANSI code page (SetDlgItemTextA / GetDlgItemTextA).
  // Setting an edit's text sends it kEnChange, as the system does.
  virtual bool setItemText(int id, const std::string& text) = 0;
  virtual std::string itemText(int id) const = 0;
  // Check boxes: 1 ticked, 0 not (CheckDlgButton / IsDlgButtonChecked).
  virtual bool setItemCheck(int id, int state) = 0;
  virtual int itemCheck(int id) const = 0;
  virtual bool enableItem(int id, bool enable) = 0;
  virtual bool itemEnabled(int id) const = 0;
  virtual bool showItem(int id, bool show) = 0;
  virtual bool itemVisible(int id) const = 0;
  // Up-down controls (UDM_SETRANGE32, UDM_SETBUDDY); the position is clamped
  // into the range. With kUdsAutoBuddy the buddy is the control before it in
  // the template; with kUdsSetBuddyInt moving the position writes it into the
  // buddy's text.
  virtual bool setUpDownRange(int id, int lower, int upper) = 0;
  virtual bool upDownRange(int id, int* lower, int* upper) const = 0;
  virtual bool setUpDownBuddy(int id, int buddyId) = 0;
  virtual int upDownBuddy(int id) const = 0;
  // Control rectangles in client pixels (MoveWindow / GetWindowRect mapped).
  virtual bool moveItem(int id, const Rect& pixels) = 0;
  virtual Rect itemRect(int id) const = 0;
  // Scrolls a multi-line edit so that its last line is visible.
  virtual bool scrollItemToEnd(int id) = 0;
  // The first visible line of a multi-line edit (EM_GETFIRSTVISIBLELINE).
  virtual int itemFirstVisibleLine(int id) const = 0;

  virtual Rect clientRect() const = 0;  // 0, 0, width, height
  virtual Rect windowRect() const = 0;  // outer rectangle on the screen
  // Sets the outer size (SetWindowPos); the minimum tracking size applies
  // only to resizing by the user.
  virtual void setWindowSize(int width, int height) = 0;
  virtual void show(bool visible) = 0;
  virtual bool visible() const = 0;
  virtual void bringToTop() = 0;
  virtual void invalidate() = 0;
  // EndDialog: a modal dialog's loop returns `result` once the current
  // handler returns. False for a modeless dialog.
  virtual bool end(int result) = 0;
};

// The handler of a dialog (its dialog procedure). Defaults do what the
// system's default dialog procedure does.
class PLATFORM_API DialogHandler {
 public:
  virtual ~DialogHandler();
  // WM_INITDIALOG, after the controls exist and before the dialog is shown.
  virtual void onInitDialog(Dialog& dialog);
  // WM_COMMAND. Return true when handled. An unhandled kIdOk or kIdCancel
  // ends a modal dialog with that code.
  virtual bool onCommand(Dialog& dialog, int controlId, int notifyCode);
  // WM_ACTIVATE: the dialog became active or inactive.
  virtual void onActivate(Dialog& dialog, bool active);
  // WM_SIZE with the new client size.
  virtual void onSize(Dialog& dialog, int clientWidth, int clientHeight);
  // WM_GETMINMAXINFO: the smallest outer size the user may give the window.
  // Return false to leave it unrestricted.
  virtual bool onMinTrackSize(Dialog& dialog, int* width, int* height);
  // WM_CLOSE from the system menu. Return true when handled; otherwise the
  // dialog receives the command kIdCancel.
  virtual bool onClose(Dialog& dialog);
  // Any other message, such as a notification icon's callback message.
  virtual void onMessage(Dialog& dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
  // WM_DESTROY, just before the window goes away.
  virtual void onDestroy(Dialog& dialog);
};

// DialogBoxIndirectParam: creates the dialog, calls onInitDialog, shows it and
// runs its modal loop on the calling thread (the thread's timers keep firing)
// until it ends. Returns the result given to Dialog::end, or -1 when the
// dialog cannot be created (no handler). The handler must outlive the call.
PLATFORM_API int runModalDialog(const DialogTemplate& dialogTemplate, DialogHandler* handler,
                                WindowHandle owner);

// CreateDialogIndirectParam: creates the dialog (visible only with
// kWsVisible), calls onInitDialog and returns its handle, or 0 when it cannot
// be created. The handler must outlive the window.
PLATFORM_API WindowHandle createModelessDialog(const DialogTemplate& dialogTemplate,
                                               DialogHandler* handler, WindowHandle owner);
// DestroyWindow for a modeless dialog; false for an unknown handle.
PLATFORM_API bool destroyDialog(WindowHandle window);
// The live dialog of that handle, or null.
PLATFORM_API Dialog* findDialog(WindowHandle window);
// Delivers a message to the dialog's handler at once (SendMessage); false
// for an unknown handle.
PLATFORM_API bool sendDialogMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam);

// ---- Notification-area icon ----------------------------------------------

inline constexpr uint32_t kNimAdd = 0;
inline constexpr uint32_t kNimModify = 1;
inline constexpr uint32_t kNimDelete = 2;
inline constexpr uint32_t kNifMessage = 0x1;
inline constexpr uint32_t kNifIcon = 0x2;
inline constexpr uint32_t kNifTip = 0x4;

// NOTIFYICONDATAA in its first version: 88 bytes.
struct NotifyIconData {
  uint32_t cbSize = sizeof(NotifyIconData);
  WindowHandle hWnd = 0;
  uint32_t uID = 0;
  uint32_t uFlags = 0;
  uint32_t uCallbackMessage = 0;
  IconHandle hIcon = 0;
  char szTip[64] = {};  // need not be zero-terminated when full
};
static_assert(sizeof(NotifyIconData) == 88);

// Shell_NotifyIconA. An icon is identified by owner window and uID. kNimAdd
// fails when it exists already, kNimModify and kNimDelete when it does not;
// every request fails for a record whose cbSize is not 88 or a null record.
// kNifIcon, kNifTip and kNifMessage say which members a request sets. The
// icon's callback message reaches the owner dialog's onMessage with wParam =
// uID and lParam = the mouse message (the user's "icon" action sends
// kWmLButtonDown).
PLATFORM_API bool notifyIcon(uint32_t message, const NotifyIconData* data);

// An icon from a module's icon resources (LoadImage); the handle stands for
// "file name,resource" (as "libBookmark.so,204"). Never 0.
PLATFORM_API IconHandle loadIconResource(const std::filesystem::path& module, int resourceId);
// What the handle stands for ("" for an unknown handle).
PLATFORM_API std::string iconName(IconHandle icon);

struct ShownIcon {
  WindowHandle owner;
  uint32_t id;
  IconHandle icon;
  std::string tip;
  uint32_t callbackMessage;
};
// The icons in the notification area, in the order they were added.
PLATFORM_API std::vector<ShownIcon> shownIcons();

// ---- Cursor --------------------------------------------------------------

enum class CursorShape { Arrow, Wait };
// SetCursor: returns the previous shape; a change prints a line.
PLATFORM_API CursorShape setCursorShape(CursorShape shape);
PLATFORM_API CursorShape cursorShape();

// Shows the wait cursor for its lifetime (BeginWaitCursor / EndWaitCursor).
class PLATFORM_API WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  CursorShape previous_;
};

// ---- The backend and user actions ----------------------------------------

// "console" or "script" (the backend QUORVANE_UI chooses now).
PLATFORM_API std::string uiBackendName();

// Appends a user action (one line of the script language, see docs/host.md)
// to the script backend's queue. Returns the empty text, or why it was
// refused (a syntax error, or a backend that takes no actions).
PLATFORM_API std::string queueUserAction(const std::string& line);
// Actions still waiting to be delivered.
PLATFORM_API size_t pendingUserActions();

// Durations of the action language and the host's commands: whole numbers
// with a unit, "250ms", "20s", "5m", "1h", which may follow one another
// ("1m30s"); a bare number is milliseconds. False for anything else.
PLATFORM_API bool parseDurationText(std::string_view text, uint64_t* milliseconds);

// Where output lines go: null restores standard output. Each call of the
// sink receives one line without its line feed.
PLATFORM_API void setUiOutput(std::function<void(std::string_view line)> sink);

}  // namespace platform
