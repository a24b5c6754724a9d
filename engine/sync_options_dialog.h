// CSyncOptionsDlg: the engine's options dialog (resource 2000). It edits the
// settings of one application in place, runs a synchronisation at once with
// "&Synchronize now" and opens the service's sign-up page through the host's
// register callback ("Register").
//
// The dialog runs modally on the caller's thread; "&Synchronize now" runs the
// procedure on that thread too, under the wait cursor. While `idle` is 1 the
// dialog ends (cancel code) as soon as it becomes inactive, so clicking into
// the browser window closes it; during a synchronisation `idle` is 0 and its
// message boxes cannot close it.
//
// What the host gets when the dialog has closed: `outputDocument`, empty
// unless the last press of "&Synchronize now" succeeded (then the procedure's
// result, possibly empty), and `dialogError`, the error of the last press
// (empty when none happened or it succeeded).
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace corvex {

class ClientApp;

inline constexpr char kSettingsErrorCaption[] = "Settings Error";
inline constexpr char kSyncErrorCaption[] = "Error while synchronization";
inline constexpr char kInformationCaption[] = "Information";
inline constexpr char kSyncSucceeded[] =
    "Synchronization completed successfully. Press \"Close\" to continue.";
inline constexpr char kUseSynchronizeNow[] = "\nPlease, use \"Synchronize now\" button to test";
// The data exchange's complaint about a "Sync period:" text that is not an
// unsigned 32-bit number.
inline constexpr char kNotAPositiveInteger[] = "Please enter a positive integer.";

// The "Sync period:" text as the data exchange reads it: spaces and tabs
// around one unsigned decimal number (an optional "+"), which must fit in 32
// bits. False for anything else, leaving *value alone.
bool parseDialogNumber(const std::string& text, uint32_t* value);

class CSyncOptionsDlg : public platform::DialogHandler {
 public:
  // Looks up (or creates) the ClientApp of the name and keeps a copy of the
  // host's document.
  CSyncOptionsDlg(const std::string& appName, const std::string& document);

  // Shows the dialog modally until it ends; returns its result code (the
  // confirm code after "Close", the cancel code otherwise, -1 when it could
  // not be shown).
  int runModal(platform::WindowHandle owner = 0);

  // The data exchange: with save, the controls into the settings (false,
  // after the box "Please enter a positive integer.", when "Sync period:"
  // holds no number; that field then keeps its value, the others are read);
  // without, the settings into the controls.
  bool exchangeData(platform::Dialog& dialog, bool save);
  // Enables and disables the controls from the current settings.
  void updateEnabledStates(platform::Dialog& dialog);

  // platform::DialogHandler
  void onInitDialog(platform::Dialog& dialog) override;
  bool onCommand(platform::Dialog& dialog, int controlId, int notifyCode) override;
  void onActivate(platform::Dialog& dialog, bool active) override;

  ClientApp* app;
  std::string inputDocument;
  std::string outputDocument;
  std::string dialogError;
  int32_t idle = 1;

 private:
  void synchronizeNow(platform::Dialog& dialog);
  void close(platform::Dialog& dialog);

  // A press succeeded: "&Synchronize now" stays disabled from then on.
  bool synchronized_ = false;
};

// runOptionsDialog (engine/synchronize.h), the dialog as Synchronize shows
// it, is defined with this class.

}  // namespace corvex
