// A small in-process server for the browser stand-in's tests. It registers
// itself as a browser helper object and as the toolbar button "Favorites",
// prints a line ("fakeplugin ...") for each call it gets, navigates its
// browser when the button is pressed, shows a message box and a modal dialog
// from the button, and runs a 20-second thread timer in a browser process.
#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "platform/com.h"
#include "platform/library.h"
#include "platform/message_loop.h"
#include "platform/registry.h"
#include "platform/ui.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr GUID kClass = {
    0x3C5B7A1E, 0x9D2F, 0x4B8A, {0x8E, 0x61, 0x0F, 0x4D, 0x2C, 0x7B, 0x9A, 0x10}};
constexpr const char* kExtension = "{6E2A9B4C-1F7D-4E3A-9C58-2B7E0D4F8A61}";
constexpr const char* kHelperObjects =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr const char* kExtensions = "Software\\Microsoft\\Internet Explorer\\Extensions";

std::string modulePath;
std::atomic<int> liveObjects{0};
std::atomic<int> serverLocks{0};
uint32_t timerId = 0;

void say(const std::string& line) {
  std::printf("fakeplugin %s\n", line.c_str());
  std::fflush(stdout);
}

void onTimer(uint32_t, uint32_t tick) { say("timer tick=" + std::to_string(tick)); }

// The dialog the button opens: a check box, an edit and OK.
class OptionsHandler : public platform::DialogHandler {
 public:
  void onInitDialog(platform::Dialog& dialog) override {
    dialog.setItemCheck(10, 1);
    dialog.setItemText(11, "first");
  }
  bool onCommand(platform::Dialog& dialog, int id, int code) override {
    if (id == kOk && code == platform::kBnClicked) {
      check = dialog.itemCheck(10);
      text = dialog.itemText(11);
      dialog.end(kOk);
      return true;
    }
    return false;
  }
  void onActivate(platform::Dialog& dialog, bool active) override {
    if (!active) dialog.end(platform::kIdCancel);
  }
  static constexpr int kOk = platform::kIdOk;
  int check = -1;
  std::string text;
};

platform::DialogTemplate optionsTemplate() {
  platform::DialogTemplate t;
  t.id = 900;
  t.caption = "Fake options";
  t.rect = {0, 0, 120, 60};
  t.controls = {
      {10, platform::ControlKind::CheckBox, "Enabled", {8, 8, 80, 18}, platform::kWsTabStop},
      {11, platform::ControlKind::Edit, "", {8, 22, 110, 36}, platform::kWsBorder},
      {1, platform::ControlKind::DefPushButton, "OK", {60, 42, 110, 56}, platform::kWsTabStop},
  };
  return t;
}

class FakeObject final : public IObjectWithSite, public IOleCommandTarget {
 public:
  FakeObject() { ++liveObjects; }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IObjectWithSite) {
      *object = static_cast<IObjectWithSite*>(this);
    } else if (riid == IID_IOleCommandTarget) {
      *object = static_cast<IOleCommandTarget*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT SetSite(IUnknown* site) override {
    say(std::string("setsite ") + (site ? "site" : "null"));
    if (browser_) browser_->Release(), browser_ = nullptr;
    if (site_) site_->Release();
    site_ = site;
    if (!site_) return S_OK;
    site_->AddRef();
    IServiceProvider* services = nullptr;
    if (site_->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services)) == S_OK) {
      services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2,
                             reinterpret_cast<void**>(&browser_));
      services->Release();
    }
    return S_OK;
  }
  HRESULT GetSite(REFIID riid, void** site) override {
    if (!site) return E_POINTER;
    *site = nullptr;
    return site_ ? site_->QueryInterface(riid, site) : E_FAIL;
  }

  HRESULT QueryStatus(const GUID*, ULONG count, OLECMD commands[], OLECMDTEXT*) override {
    if (!commands) return E_POINTER;
    if (count == 0) return E_UNEXPECTED;
    commands[0].cmdf = OLECMDF_ENABLED;
    return S_OK;
  }
  HRESULT Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) override {
    say("exec");
    if (browser_) {
      BSTR url =
          platform::bstrAlloc(u"http://localhost/registration.jsp?action=Navigation&param=0");
      browser_->Navigate(url, nullptr, nullptr, nullptr, nullptr);
      platform::bstrFree(url);
    }
    int answer = platform::showMessageBox(0, "Open the options?", "Fake plugin",
                                          platform::kMbYesNo | platform::kMbIconQuestion);
    if (answer != platform::kIdYes) return S_OK;
    OptionsHandler handler;
    int result = platform::runModalDialog(optionsTemplate(), &handler, 0);
    say("dialog result=" + std::to_string(result) + " check=" + std::to_string(handler.check) +
        " text=" + handler.text);
    return S_OK;
  }

 private:
  ~FakeObject() {
    if (browser_) browser_->Release();
    if (site_) site_->Release();
    --liveObjects;
  }
  std::atomic<ULONG> references_{0};
  IUnknown* site_ = nullptr;
  IWebBrowser2* browser_ = nullptr;
};

class Factory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* created = new FakeObject();
    created->AddRef();
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    serverLocks += lock ? 1 : -1;
    return S_OK;
  }
};

Factory factory;

bool setText(platform::RegKey& key, const char* name, const std::string& text, bool withZero) {
  return key.setValue(name, platform::kRegSz, text.c_str(),
                      static_cast<uint32_t>(text.size() + (withZero ? 1 : 0))) == platform::kOk;
}

}  // namespace

EXPORT int32_t DllMain(void* module, uint32_t reason, void*) {
  if (reason == platform::kDllProcessAttach) {
    modulePath = platform::moduleFileName(module).string();
    const std::string host = platform::executablePath().filename().string();
    const bool browser = strcasecmp(host.c_str(), "IEXPLORE.EXE") == 0;
    say("attach host=" + host + (browser ? " browser" : " other"));
    // FAKEPLUGIN_TIMER_MS shortens the period for tests on the real clock.
    const char* period = std::getenv("FAKEPLUGIN_TIMER_MS");
    if (browser) timerId = platform::setThreadTimer(period ? std::atoi(period) : 20000, onTimer);
  } else if (reason == platform::kDllProcessDetach) {
    if (timerId) platform::killThreadTimer(timerId);
    say("detach objects=" + std::to_string(liveObjects.load()));
  }
  return 1;
}

EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != kClass) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

EXPORT HRESULT DllCanUnloadNow() { return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE; }

EXPORT HRESULT DllRegisterServer() {
  using platform::RegKey;
  using platform::RegRoot;
  const std::string clsid = platform::guidToString(kClass);
  RegKey key;
  if (RegKey::create(RegRoot::ClassesRoot, "CLSID\\" + clsid + "\\InprocServer32", &key) !=
          platform::kOk ||
      !setText(key, "", modulePath, true) || !setText(key, "ThreadingModel", "Apartment", true)) {
    return E_FAIL;
  }
  if (RegKey::create(RegRoot::LocalMachine, std::string(kExtensions) + "\\" + kExtension, &key) !=
          platform::kOk ||
      !setText(key, "CLSID", "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}", true) ||
      !setText(key, "Default Visible", "Yes", true) ||
      !setText(key, "ClsidExtension", clsid, true) ||
      !setText(key, "ButtonText", "Favorites", false)) {
    return SELFREG_E_CLASS;
  }
  if (RegKey::create(RegRoot::LocalMachine, std::string(kHelperObjects) + "\\" + clsid, &key) !=
      platform::kOk) {
    return SELFREG_E_CLASS;
  }
  say("registered");
  return S_OK;
}

EXPORT HRESULT DllUnregisterServer() {
  using platform::RegRoot;
  const std::string clsid = platform::guidToString(kClass);
  platform::deleteRegistryTree(RegRoot::ClassesRoot, "CLSID\\" + clsid);
  if (platform::deleteRegistryTree(RegRoot::LocalMachine,
                                   std::string(kExtensions) + "\\" + kExtension) != platform::kOk ||
      platform::deleteRegistryTree(RegRoot::LocalMachine,
                                   std::string(kHelperObjects) + "\\" + clsid) != platform::kOk) {
    return SELFREG_E_CLASS;
  }
  say("unregistered");
  return S_OK;
}
