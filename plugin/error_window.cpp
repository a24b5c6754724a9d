#include "plugin/error_window.h"

#include <cstring>
#include <ctime>

#include "platform/codepage.h"

namespace bookmark {

platform::DialogTemplate errorDialogTemplate() {
  using platform::ControlKind;
  platform::DialogTemplate t;
  t.id = kErrorDialogId;
  t.caption = "Bookmark plugin";
  t.rect = {0, 0, 188, 94};
  // Caption and resizable frame, centred, always on top; hidden at creation
  // and without a system menu.
  t.style = platform::kWsPopup | platform::kWsCaption | platform::kWsThickFrame | platform::kDsCenter;
  t.exStyle = platform::kWsExTopmost;
  t.font = "MS Sans Serif";
  t.fontSize = 8;
  // Rectangles are left, top, right, bottom in dialog units.
  t.controls = {
      {kCloseButtonId, ControlKind::DefPushButton, "Close", {132, 76, 182, 90}, platform::kWsTabStop},
      {kMessagesGroupId, ControlKind::GroupBox, "Messages", {4, 0, 184, 72}, 0},
      {kMessageListId,
       ControlKind::Edit,
       "",
       {8, 12, 180, 64},
       platform::kEsMultiLine | platform::kEsReadOnly | platform::kWsBorder | platform::kWsVScroll |
           platform::kEsAutoVScroll | platform::kEsAutoHScroll | platform::kWsTabStop},
  };
  t.closeControlId = kCloseButtonId;
  return t;
}

std::string entryTimeText(std::time_t when) {
  std::tm local{};
  if (!localtime_r(&when, &local)) return {};
  char text[128];
  size_t length = std::strftime(text, sizeof text, "%m/%d/%Y, %H:%M:%S\r\n", &local);
  return std::string(text, length);
}

std::unique_ptr<ErrorWindow> ErrorWindow::create() {
  std::unique_ptr<ErrorWindow> window(new ErrorWindow());
  window->window_ = platform::createModelessDialog(errorDialogTemplate(), window.get(), 0);
  if (window->window_ == 0) return nullptr;
  return window;
}

ErrorWindow::~ErrorWindow() {
  removeIcon();
  if (window_) platform::destroyDialog(window_);
}

platform::Dialog* ErrorWindow::dialog() const { return window_ ? platform::findDialog(window_) : nullptr; }

uint32_t ErrorWindow::iconFlags(bool withIcon) const {
  uint32_t flags = withIcon ? platform::kNifIcon : 0;
  if (record_.szTip[0] != '\0') flags |= platform::kNifTip;
  if (record_.uCallbackMessage != 0 && record_.hWnd != 0) flags |= platform::kNifMessage;
  return flags;
}

void ErrorWindow::showIcon(platform::IconHandle icon, const std::string& tip) {
  if (icon == 0) {
    removeIcon();
    return;
  }
  const uint32_t request = record_.hIcon == 0 ? platform::kNimAdd : platform::kNimModify;
  record_.hIcon = icon;
  std::memset(record_.szTip, 0, sizeof record_.szTip);
  std::memcpy(record_.szTip, tip.data(), std::min(tip.size(), sizeof record_.szTip - 1));
  record_.uFlags = iconFlags(true);
  if (!platform::notifyIcon(request, &record_)) record_.hIcon = 0;
}

void ErrorWindow::removeIcon() {
  if (record_.hIcon == 0) return;
  record_.uFlags = iconFlags(false);
  platform::notifyIcon(platform::kNimDelete, &record_);
  record_.hIcon = 0;
}

void ErrorWindow::appendEntry(const std::u16string& text) {
  platform::Dialog* list = dialog();
  if (!list) return;
  std::string entries = list->itemText(kMessageListId);
  if (!entries.empty()) entries += "\r\n";
  entries += entryTimeText(std::time(nullptr));
  entries += platform::utf16ToAnsi(text);
  entries += "\r\n";
  list->setItemText(kMessageListId, entries);
  list->scrollItemToEnd(kMessageListId);
}

void ErrorWindow::onInitDialog(platform::Dialog& dialog) {
  const platform::Rect outer = dialog.windowRect();
  minWidth_ = outer.width();
  minHeight_ = outer.height();
  previousClient_ = dialog.clientRect();
  record_.hWnd = dialog.handle();
  record_.uCallbackMessage = kIconCallbackMessage;
}

bool ErrorWindow::onCommand(platform::Dialog& dialog, int controlId, int notifyCode) {
  if (controlId == kCloseButtonId && notifyCode == platform::kBnClicked) {
    dialog.show(false);
    removeIcon();
    return true;
  }
  // Escape (IDCANCEL) must not close the window.
  return controlId == platform::kIdCancel;
}

bool ErrorWindow::onMinTrackSize(platform::Dialog&, int* width, int* height) {
  if (minWidth_ == 0) return false;
  *width = minWidth_;
  *height = minHeight_;
  return true;
}

void ErrorWindow::onSize(platform::Dialog& dialog, int, int) {
  const platform::Rect client = dialog.clientRect();
  const int dx = client.right - previousClient_.right;
  const int dy = client.bottom - previousClient_.bottom;
  platform::Rect button = dialog.itemRect(kCloseButtonId);
  dialog.moveItem(kCloseButtonId,
                  {button.left + dx, button.top + dy, button.right + dx, button.bottom + dy});
  for (int id : {kMessageListId, kMessagesGroupId}) {
    platform::Rect item = dialog.itemRect(id);
    dialog.moveItem(id, {item.left, item.top, item.right + dx, item.bottom + dy});
  }
  previousClient_ = client;
  dialog.invalidate();
}

void ErrorWindow::onMessage(platform::Dialog& dialog, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) {
  if (message == kIconCallbackMessage && wParam == record_.uID &&
      lParam == static_cast<intptr_t>(platform::kWmLButtonDown)) {
    dialog.show(true);
    dialog.bringToTop();
  }
}

}  // namespace bookmark
