// ErrorWindow: the notification-area icon that announces failed runs and the
// hidden message window that lists them, one entry per failure with its time.
// At most one per process; it lives from the first failed run that wants it
// until the plug-in is unloaded. A click on the icon shows the window,
// "Close" hides it and removes the icon; Escape does nothing.
//
// The window belongs to the thread that created it and is driven by that
// thread's message loop; nothing here is locked (runs are kept apart by the
// run mutex).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui.h"

namespace bookmark {

// Control identifiers of dialog resource 105.
inline constexpr int kErrorDialogId = 105;
inline constexpr int kCloseButtonId = 1;  // IDOK
inline constexpr int kMessageListId = 201;
inline constexpr int kMessagesGroupId = 202;
// The icon's callback message, WM_USER + 100.
inline constexpr uint32_t kIconCallbackMessage = platform::kWmUser + 100;

// The dialog template of resource 105 (dialog units).
platform::DialogTemplate errorDialogTemplate();

class ErrorWindow final : public platform::DialogHandler {
 public:
  // The window, created hidden and without an owner; null when it cannot be
  // created.
  static std::unique_ptr<ErrorWindow> create();
  // Removes the icon and destroys the window.
  ~ErrorWindow() override;
  ErrorWindow(const ErrorWindow&) = delete;
  ErrorWindow& operator=(const ErrorWindow&) = delete;

  // Puts the icon into the notification area (NIM_ADD, or NIM_MODIFY while
  // one is shown) with the tool tip, cut to 63 bytes. A null icon removes it.
  void showIcon(platform::IconHandle icon, const std::string& tip);
  // Appends "time\r\ntext\r\n", after an empty line when the list holds
  // entries already, and scrolls the list to its end.
  void appendEntry(const std::u16string& text);
  // Takes the icon out of the notification area; the entries stay.
  void removeIcon();

  bool iconShown() const { return record_.hIcon != 0; }
  platform::WindowHandle handle() const { return window_; }
  const platform::NotifyIconData& record() const { return record_; }
  platform::Rect previousClientRect() const { return previousClient_; }
  int minTrackWidth() const { return minWidth_; }
  int minTrackHeight() const { return minHeight_; }

  // The dialog's handler.
  void onInitDialog(platform::Dialog& dialog) override;
  bool onCommand(platform::Dialog& dialog, int controlId, int notifyCode) override;
  bool onMinTrackSize(platform::Dialog& dialog, int* width, int* height) override;
  void onSize(platform::Dialog& dialog, int clientWidth, int clientHeight) override;
  void onMessage(platform::Dialog& dialog, uint32_t message, uintptr_t wParam,
                 intptr_t lParam) override;

 private:
  ErrorWindow() = default;
  uint32_t iconFlags(bool withIcon) const;
  platform::Dialog* dialog() const;

  platform::WindowHandle window_ = 0;
  platform::Rect previousClient_;
  int minWidth_ = 0;
  int minHeight_ = 0;
  platform::NotifyIconData record_;
};

// The entry's time line for a local time: "%m/%d/%Y, %H:%M:%S\r\n".
std::string entryTimeText(std::time_t when);

}  // namespace bookmark
