#include "engine/sync_options_dialog.h"

#include <exception>

#include "engine/client_app.h"
#include "engine/dialog_resource.h"
#include "engine/synchronize.h"
#include "engine/validation.h"

namespace corvex {
namespace {

using platform::Dialog;

// The check boxes and the edits bound to byte strings, in the order the data
// exchange visits them; "Sync period:" comes between "Auto synchronization"
// and "Sync after start".
struct CheckBinding {
  int id;
  int32_t ClientApp::*field;
};
struct TextBinding {
  int id;
  std::string ClientApp::*field;
};

constexpr CheckBinding kChecksBeforePeriod[] = {
    {kIdcEnabled, &ClientApp::enabled},
};
constexpr TextBinding kTexts[] = {
    {kIdcUsername, &ClientApp::username},
    {kIdcPassword, &ClientApp::password},
};
constexpr CheckBinding kSyncAutoCheck = {kIdcSyncAuto, &ClientApp::syncAuto};
constexpr CheckBinding kChecksAfterPeriod[] = {
    {kIdcSyncAfterStart, &ClientApp::syncAfterStart},
    {kIdcSyncBeforeExit, &ClientApp::syncBeforeExit},
    {kIdcProxyAuth, &ClientApp::proxyAuth},
};
constexpr TextBinding kProxyTexts[] = {
    {kIdcProxyUsername, &ClientApp::proxyUsername},
    {kIdcProxyPassword, &ClientApp::proxyPassword},
};
constexpr CheckBinding kErrorIconCheck = {kIdcErrorIcon, &ClientApp::errorIcon};

void exchangeCheck(Dialog& dialog, ClientApp& app, const CheckBinding& b, bool save) {
  if (save) {
    app.*b.field = dialog.itemCheck(b.id) ? 1 : 0;
  } else {
    dialog.setItemCheck(b.id, app.*b.field != 0 ? 1 : 0);
  }
}

void exchangeText(Dialog& dialog, ClientApp& app, const TextBinding& b, bool save) {
  if (save) {
    app.*b.field = dialog.itemText(b.id);
  } else {
    dialog.setItemText(b.id, app.*b.field);
  }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

void showBox(Dialog& dialog, const std::string& text, const char* caption, uint32_t icon) {
  platform::showMessageBox(dialog.handle(), text, caption, platform::kMbOk | icon);
}

}  // namespace

bool parseDialogNumber(const std::string& text, uint32_t* value) {
  size_t pos = 0;
  while (pos < text.size() && isBlank(text[pos])) ++pos;
  if (pos < text.size() && text[pos] == '+') ++pos;
  const size_t digits = pos;
  uint64_t number = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    number = number * 10 + static_cast<uint64_t>(text[pos] - '0');
    if (number > UINT32_MAX) return false;
    ++pos;
  }
  if (pos == digits) return false;
  while (pos < text.size() && isBlank(text[pos])) ++pos;
  if (pos != text.size()) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

CSyncOptionsDlg::CSyncOptionsDlg(const std::string& appName, const std::string& document)
    : app(getClientApp(appName)), inputDocument(document) {}

int CSyncOptionsDlg::runModal(platform::WindowHandle owner) {
  return platform::runModalDialog(syncOptionsDialogTemplate(), this, owner);
}

bool CSyncOptionsDlg::exchangeData(Dialog& dialog, bool save) {
  ClientApp& a = *app;
  bool ok = true;
  for (const CheckBinding& b : kChecksBeforePeriod) exchangeCheck(dialog, a, b, save);
  for (const TextBinding& b : kTexts) exchangeText(dialog, a, b, save);
  exchangeCheck(dialog, a, kSyncAutoCheck, save);
  if (save) {
    uint32_t period = 0;
    if (parseDialogNumber(dialog.itemText(kIdcSyncPeriod), &period)) {
      a.syncPeriod = period;
    } else {
      // The field keeps its value; the rest is read all the same, so that a
      // check-box click still updates the enabled states.
      showBox(dialog, kNotAPositiveInteger, "Quorvane", platform::kMbIconWarning);
      ok = false;
    }
  } else {
    dialog.setItemText(kIdcSyncPeriod, std::to_string(a.syncPeriod));
  }
  for (const CheckBinding& b : kChecksAfterPeriod) exchangeCheck(dialog, a, b, save);
  for (const TextBinding& b : kProxyTexts) exchangeText(dialog, a, b, save);
  exchangeCheck(dialog, a, kErrorIconCheck, save);
  return ok;
}

void CSyncOptionsDlg::updateEnabledStates(Dialog& dialog) {
  const bool on = app->enabled != 0;
  dialog.enableItem(kIdcProxyUsername, on && app->proxyAuth != 0);
  dialog.enableItem(kIdcProxyPassword, on && app->proxyAuth != 0);
  dialog.enableItem(kIdcSyncPeriod, on && app->syncAuto != 0);
  for (int id : {kIdcProxyAuth, kIdcSyncAuto, kIdcSyncAfterStart, kIdcSyncBeforeExit, kIdcUsername,
                 kIdcPassword, kIdcErrorIcon}) {
    dialog.enableItem(id, on);
  }
  dialog.enableItem(kIdcSynchronizeNow, on && !synchronized_);
}

void CSyncOptionsDlg::onInitDialog(Dialog& dialog) {
  try {
    exchangeData(dialog, false);
    if (!registerFunc()) dialog.showItem(kIdcRegister, false);
    dialog.setUpDownRange(kIdcSyncPeriodSpin, 1, 32767);
    updateEnabledStates(dialog);
  } catch (...) {
  }
}

bool CSyncOptionsDlg::onCommand(Dialog& dialog, int controlId, int notifyCode) {
  if (notifyCode != platform::kBnClicked) return false;
  try {
    switch (controlId) {
      case kIdcSynchronizeNow:
        synchronizeNow(dialog);
        return true;
      case kIdcClose:
        close(dialog);
        return true;
      case kIdcEnabled:
      case kIdcProxyAuth:
      case kIdcSyncAuto:
        exchangeData(dialog, true);
        updateEnabledStates(dialog);
        return true;
      case kIdcRegister:
        if (RegisterFunc callback = registerFunc()) callback();
        return true;
      default:
        // The cancel code (Escape, the system menu's close) ends the dialog
        // without reading the controls.
        return false;
    }
  } catch (...) {
    return true;
  }
}

void CSyncOptionsDlg::onActivate(Dialog& dialog, bool active) {
  if (!active && idle == 1) dialog.end(platform::kIdCancel);
}

void CSyncOptionsDlg::synchronizeNow(Dialog& dialog) {
  // Busy from here until the last box is gone; `idle` goes back to 1 before
  // the cursor is restored, on every path.
  struct Busy {
    explicit Busy(int32_t& flag) : idle(flag) {
      idle = 0;
      previous = platform::setCursorShape(platform::CursorShape::Wait);
    }
    ~Busy() {
      idle = 1;
      platform::setCursorShape(previous);
    }
    int32_t& idle;
    platform::CursorShape previous;
  } busy(idle);

  // A "Sync period:" text that is no number stops the press: the box has
  // told the user, and nothing runs on settings they did not mean.
  if (!exchangeData(dialog, true)) return;
  const std::string message = validateSettingsLogged(*app);
  if (!message.empty()) {
    dialogError = message;
    outputDocument.clear();
    showBox(dialog, message, kSettingsErrorCaption, platform::kMbIconWarning);
    return;
  }
  // Every press starts again from the host's document as it came in.
  outputDocument = inputDocument;
  std::string error;
  try {
    error = runSynchronization(*app, &outputDocument);
  } catch (const std::exception& e) {
    error = *e.what() ? e.what() : "Synchronization has been failed";
  }
  if (!error.empty()) {
    dialogError = error;
    outputDocument.clear();
    showBox(dialog, error, kSyncErrorCaption, platform::kMbIconError);
    return;
  }
  dialogError.clear();
  synchronized_ = true;
  dialog.enableItem(kIdcSynchronizeNow, false);
  showBox(dialog, kSyncSucceeded, kInformationCaption, platform::kMbIconInformation);
}

void CSyncOptionsDlg::close(Dialog& dialog) {
  // A "Sync period:" text that is no number keeps the dialog open, as the
  // confirm action would.
  if (!exchangeData(dialog, true)) return;
  const std::string message = validateSettingsLogged(*app);
  if (!message.empty()) {
    showBox(dialog, message + kUseSynchronizeNow, kSettingsErrorCaption, platform::kMbIconWarning);
  }
  // The confirm action reads the controls once more.
  if (!exchangeData(dialog, true)) return;
  dialog.end(platform::kIdOk);
}

std::string runOptionsDialog(ClientApp& app, std::string* data) {
  CSyncOptionsDlg dialog(app.appName, *data);
  dialog.runModal();
  *data = dialog.outputDocument;
  return dialog.dialogError;
}

}  // namespace corvex
