// The engine's dialog resources: the options dialog (resource 2000) as a
// template, with the identifiers of its controls.
#pragma once

#include "platform/ui.h"

namespace corvex {

inline constexpr int kSyncOptionsDialogId = 2000;

// Control identifiers of the options dialog. Statics and group boxes have
// none (platform::kIdStatic).
inline constexpr int kIdcSynchronizeNow = 2002;
inline constexpr int kIdcUsername = 2004;
inline constexpr int kIdcPassword = 2005;
inline constexpr int kIdcSyncPeriod = 2006;
inline constexpr int kIdcSyncPeriodSpin = 2007;
inline constexpr int kIdcSyncAfterStart = 2008;
inline constexpr int kIdcSyncBeforeExit = 2009;
inline constexpr int kIdcSyncAuto = 2010;
inline constexpr int kIdcProxyAuth = 2014;
inline constexpr int kIdcProxyUsername = 2015;
inline constexpr int kIdcProxyPassword = 2016;
inline constexpr int kIdcEnabled = 2017;
inline constexpr int kIdcRegister = 2018;
inline constexpr int kIdcErrorIcon = 2019;
inline constexpr int kIdcClose = platform::kIdOk;

// Button styles of the resource compiler (BS_*), kept in the template for
// the record.
inline constexpr uint32_t kBsDefPushButton = 0x1;
inline constexpr uint32_t kBsAutoCheckBox = 0x3;
inline constexpr uint32_t kBsGroupBox = 0x7;
inline constexpr uint32_t kWsChild = 0x40000000;
inline constexpr uint32_t kDsSetFont = 0x40;

// Dialog 2000, "Quorvane": 236 x 217 dialog units, "MS Sans Serif" 8 pt, a
// pop-up with title bar, system menu and modal frame. Nobody answering it
// (the console backend) presses "Close".
const platform::DialogTemplate& syncOptionsDialogTemplate();

}  // namespace corvex
