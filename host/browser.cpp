#include "host/browser.h"

#include <algorithm>

#include "host/output.h"

namespace host {
namespace {

std::string windowText(int number) { return "window=" + std::to_string(number); }

}  // namespace

Browser::Browser() = default;

Browser::~Browser() { quit(); }

void Browser::reportProblems(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) emitLine("registry problem " + quoteText(problem));
}

Browser::LoadedLibrary* Browser::libraryFor(const GUID& clsid, std::string* error) {
  std::filesystem::path path;
  if (std::string why = inprocServerPath(clsid, &path); !why.empty()) {
    *error = why;
    return nullptr;
  }
  for (auto& loaded : libraries_) {
    if (loaded->path == path) return loaded.get();
  }
  emitLine("library load path=" + quoteText(path.string()));
  auto loaded = std::make_unique<LoadedLibrary>();
  loaded->path = path;
  if (std::string why = platform::Library::open(path, &loaded->library); !why.empty()) {
    *error = why;
    emitLine("library error path=" + quoteText(path.string()) + " text=" + quoteText(why));
    return nullptr;
  }
  loaded->getClassObject = loaded->library.function<DllGetClassObjectFunction>("DllGetClassObject");
  if (!loaded->getClassObject)
    emitLine("library error path=" + quoteText(path.string()) + " text=\"no DllGetClassObject\"");
  libraries_.push_back(std::move(loaded));
  return libraries_.back().get();
}

void Browser::start() {
  std::vector<std::string> problems;
  for (const GUID& clsid : findHelperObjects(&problems)) {
    std::string error;
    if (!libraryFor(clsid, &error)) {
      emitLine("helper error clsid=" + platform::guidToString(clsid) + " text=" + quoteText(error));
    }
  }
  reportProblems(problems);
}

bool Browser::createObject(int number, Window& window, const std::string& role, const GUID& clsid) {
  const std::string what =
      windowText(number) + " role=" + role + " clsid=" + platform::guidToString(clsid);
  std::string error;
  LoadedLibrary* library = libraryFor(clsid, &error);
  if (library && !library->getClassObject) error = "the library has no DllGetClassObject";
  if (!library || !library->getClassObject) {
    emitLine("object error " + what + " text=" + quoteText(error));
    return false;
  }
  IClassFactory* factory = nullptr;
  HRESULT hr =
      library->getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (hresultFailed(hr) || !factory) {
    emitLine("object error " + what +
             " text=" + quoteText("DllGetClassObject returned " + platform::hresultToString(hr)));
    return false;
  }
  IUnknown* unknown = nullptr;
  hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown));
  factory->Release();
  if (hresultFailed(hr) || !unknown) {
    emitLine("object error " + what +
             " text=" + quoteText("CreateInstance returned " + platform::hresultToString(hr)));
    return false;
  }
  emitLine("object create " + what);
  IObjectWithSite* withSite = nullptr;
  if (hresultSucceeded(
          unknown->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite))) &&
      withSite) {
    hr = withSite->SetSite(window.site->unknown());
    withSite->Release();
    emitLine("object setsite " + what + " result=" + platform::hresultToString(hr));
  }
  window.objects.push_back({role, clsid, unknown});
  return true;
}

int Browser::openWindow() {
  const int number = nextWindow_++;
  Window& window = windows_[number];
  window.site = new BrowserSite(number);
  emitLine("window open " + std::to_string(number));
  std::vector<std::string> problems;
  window.buttons = findToolbarButtons(&problems);
  for (const GUID& clsid : findHelperObjects(&problems))
    createObject(number, window, "helper", clsid);
  for (const ToolbarButton& button : window.buttons) {
    std::string line = "button " + windowText(number) + " text=" + quoteText(button.text) +
                       " visible=" + (button.visible ? "1" : "0");
    line += button.hasObject ? " clsid=" + platform::guidToString(button.objectClass)
                             : " exec=" + quoteText(button.exec);
    emitLine(line);
  }
  reportProblems(problems);
  return number;
}

std::string Browser::pressButton(int number, const std::string& text) {
  auto found = windows_.find(number);
  if (found == windows_.end()) return "no window " + std::to_string(number);
  Window& window = found->second;
  const std::vector<ToolbarButton>& buttons = window.buttons;
  auto it = std::find_if(buttons.begin(), buttons.end(), [&](const ToolbarButton& b) {
    return b.text == (text.empty() ? "Favorites" : text);
  });
  if (it == buttons.end() && text.empty() && buttons.size() == 1) it = buttons.begin();
  if (it == buttons.end()) {
    return "window " + std::to_string(number) + " has no button " +
           quoteText(text.empty() ? "Favorites" : text);
  }
  const ToolbarButton button = *it;
  const std::string what = windowText(number) + " button=" + quoteText(button.text);
  emitLine("press " + what);
  if (!button.hasObject) {
    emitLine("exec " + what + " run=" + quoteText(button.exec));
    return {};
  }
  auto object = window.buttonObjects.find(button.key);
  if (object == window.buttonObjects.end()) {
    if (!createObject(number, window, "button", button.objectClass)) return {};
    object = window.buttonObjects.emplace(button.key, window.objects.size() - 1).first;
  }
  IOleCommandTarget* target = nullptr;
  IUnknown* unknown = window.objects[object->second].unknown;
  if (hresultFailed(
          unknown->QueryInterface(IID_IOleCommandTarget, reinterpret_cast<void**>(&target))) ||
      !target) {
    emitLine("exec " + what + " result=" + platform::hresultToString(E_NOINTERFACE) +
             " (no IOleCommandTarget)");
    return {};
  }
  OLECMD command{0, 0};
  HRESULT status = target->QueryStatus(nullptr, 1, &command, nullptr);
  const std::string statusText =
      " status=" + platform::hresultToString(status) + " flags=" + std::to_string(command.cmdf);
  HRESULT hr = target->Exec(nullptr, 0, 0, nullptr, nullptr);
  target->Release();
  emitLine("exec " + what + statusText + " result=" + platform::hresultToString(hr));
  return {};
}

void Browser::releaseObject(int number, Object& object) {
  const std::string what = windowText(number) + " role=" + object.role +
                           " clsid=" + platform::guidToString(object.clsid);
  IObjectWithSite* withSite = nullptr;
  if (hresultSucceeded(object.unknown->QueryInterface(IID_IObjectWithSite,
                                                      reinterpret_cast<void**>(&withSite))) &&
      withSite) {
    HRESULT hr = withSite->SetSite(nullptr);
    withSite->Release();
    emitLine("object setsite " + what + " site=null result=" + platform::hresultToString(hr));
  }
  ULONG left = object.unknown->Release();
  object.unknown = nullptr;
  emitLine("object release " + what + " references=" + std::to_string(left));
}

std::string Browser::closeWindow(int number) {
  auto found = windows_.find(number);
  if (found == windows_.end()) return "no window " + std::to_string(number);
  emitLine("window close " + std::to_string(number));
  Window& window = found->second;
  // The toolbar's objects go first, then the helper objects, newest first.
  for (auto it = window.objects.rbegin(); it != window.objects.rend(); ++it) {
    releaseObject(number, *it);
  }
  ULONG left = window.site->Release();
  if (left != 0) {
    emitLine("site leaked " + windowText(number) + " references=" + std::to_string(left));
  }
  windows_.erase(found);
  return {};
}

void Browser::quit() {
  if (quit_) return;
  quit_ = true;
  while (!windows_.empty()) closeWindow(windows_.begin()->first);
  for (auto it = libraries_.rbegin(); it != libraries_.rend(); ++it) {
    LoadedLibrary& loaded = **it;
    std::string line = "library unload path=" + quoteText(loaded.path.string());
    if (auto canUnload = loaded.library.function<DllCanUnloadNowFunction>("DllCanUnloadNow")) {
      line += " canunloadnow=" + platform::hresultToString(canUnload());
    }
    emitLine(line);
    loaded.library.close();
  }
  libraries_.clear();
}

}  // namespace host
