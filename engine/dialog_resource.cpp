#include "engine/dialog_resource.h"

namespace corvex {
namespace {

using platform::ControlKind;
using platform::ControlTemplate;
using platform::kIdStatic;

constexpr uint32_t kChild = kWsChild | platform::kWsVisible;
constexpr uint32_t kTab = platform::kWsTabStop;
constexpr uint32_t kCheck = kChild | kTab | kBsAutoCheckBox;
constexpr uint32_t kEdit = kChild | kTab | platform::kWsBorder | platform::kEsAutoHScroll;
constexpr uint32_t kPasswordEdit = kEdit | platform::kEsPassword;
constexpr uint32_t kLabel = kChild | platform::kSsRight;
constexpr uint32_t kGroup = kChild | kBsGroupBox;
constexpr uint32_t kButton = kChild | kTab;
constexpr uint32_t kSpin = kChild | platform::kUdsSetBuddyInt | platform::kUdsAlignRight |
                           platform::kUdsAutoBuddy | platform::kUdsArrowKeys;

// x, y, width and height as the resource script writes them.
ControlTemplate control(int id, ControlKind kind, const char* text, int x, int y, int width,
                        int height, uint32_t style) {
  return ControlTemplate{id, kind, text, {x, y, x + width, y + height}, style};
}

platform::DialogTemplate makeTemplate() {
  platform::DialogTemplate t;
  t.id = kSyncOptionsDialogId;
  t.caption = "Quorvane";
  t.rect = {0, 0, 236, 217};
  t.style = kDsSetFont | platform::kDsModalFrame | platform::kWsPopup | platform::kWsCaption |
            platform::kWsSysMenu;
  t.font = "MS Sans Serif";
  t.fontSize = 8;
  t.closeControlId = kIdcClose;
  // In tab order; the up-down control follows its buddy (UDS_AUTOBUDDY).
  t.controls = {
      control(kIdStatic, ControlKind::GroupBox, "User settings", 8, 4, 221, 106, kGroup),
      control(kIdcEnabled, ControlKind::CheckBox, "Enabled", 17, 14, 42, 10, kCheck),
      control(kIdStatic, ControlKind::Static, "Username:", 17, 26, 53, 12, kLabel),
      control(kIdcUsername, ControlKind::Edit, "", 77, 26, 78, 14, kEdit),
      control(kIdStatic, ControlKind::Static, "Password:", 17, 42, 53, 12, kLabel),
      control(kIdcPassword, ControlKind::Edit, "", 77, 42, 78, 14, kPasswordEdit),
      control(kIdcSyncAuto, ControlKind::CheckBox, "Auto synchronization", 17, 62, 81, 10, kCheck),
      control(kIdStatic, ControlKind::Static, "Sync period:", 25, 74, 53, 12, kLabel),
      control(kIdcSyncPeriod, ControlKind::Edit, "", 85, 74, 38, 14, kEdit),
      control(kIdcSyncPeriodSpin, ControlKind::UpDown, "", 121, 74, 11, 14, kSpin),
      control(kIdStatic, ControlKind::Static, "(min)", 133, 74, 23, 16, kChild),
      control(kIdcSyncAfterStart, ControlKind::CheckBox, "Sync after start", 17, 94, 63, 10,
              kCheck),
      control(kIdcSyncBeforeExit, ControlKind::CheckBox, "Sync before exit", 85, 94, 67, 10,
              kCheck),
      control(kIdStatic, ControlKind::GroupBox, "Proxy settings", 9, 114, 220, 64, kGroup),
      control(kIdcProxyAuth, ControlKind::CheckBox, "Proxy authentication", 17, 126, 111, 10,
              kCheck),
      control(kIdStatic, ControlKind::Static, "Proxy Username:", 17, 142, 53, 12, kLabel),
      control(kIdcProxyUsername, ControlKind::Edit, "", 77, 142, 78, 14, kEdit),
      control(kIdStatic, ControlKind::Static, "Proxy Password:", 17, 158, 53, 12, kLabel),
      control(kIdcProxyPassword, ControlKind::Edit, "", 77, 158, 78, 14, kPasswordEdit),
      control(kIdcErrorIcon, ControlKind::CheckBox,
              "Display icon in the system tray when there is an error", 8, 180, 180, 10, kCheck),
      control(kIdcRegister, ControlKind::PushButton, "Register", 8, 196, 68, 16, kButton),
      control(kIdcSynchronizeNow, ControlKind::PushButton, "&Synchronize now", 84, 196, 68, 16,
              kButton),
      control(kIdcClose, ControlKind::DefPushButton, "Close", 160, 196, 68, 16,
              kButton | kBsDefPushButton),
  };
  return t;
}

}  // namespace

const platform::DialogTemplate& syncOptionsDialogTemplate() {
  static const platform::DialogTemplate resource = makeTemplate();
  return resource;
}

}  // namespace corvex
