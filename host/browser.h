// The browser's dealings with its extensions: it loads every library the
// registry names for a helper object (once per process), creates one helper
// object per window and gives it the window's site, creates a toolbar
// button's object when the button is first pressed in a window and sends it
// Exec, and at the end releases everything, asks each library
// DllCanUnloadNow and unloads it (its process detach).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/extensions.h"
#include "host/site.h"
#include "platform/com.h"
#include "platform/library.h"

namespace host {

class Browser {
 public:
  Browser();
  ~Browser();  // quit(), if not done
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // Loads the helper objects' libraries (their process attach runs now).
  void start();
  // Opens a window: its number (1, 2, ...).
  int openWindow();
  // Closes window `number`: SetSite(NULL) and Release for each of its
  // objects. Returns the empty text or why it could not.
  std::string closeWindow(int number);
  // Presses the toolbar button of window `number` whose text is `button`
  // (empty: "Favorites", or the only button there is).
  std::string pressButton(int number, const std::string& button);
  // Closes every window, then asks each library DllCanUnloadNow and unloads it.
  void quit();

  int openWindowCount() const { return static_cast<int>(windows_.size()); }

 private:
  struct LoadedLibrary {
    std::filesystem::path path;
    platform::Library library;
    DllGetClassObjectFunction getClassObject = nullptr;
  };
  struct Object {
    std::string role;  // "helper" or "button"
    GUID clsid{};
    IUnknown* unknown = nullptr;
  };
  struct Window {
    BrowserSite* site = nullptr;
    std::vector<Object> objects;
    std::vector<ToolbarButton> buttons;
    std::map<std::string, size_t> buttonObjects;  // button key -> index in objects
  };

  LoadedLibrary* libraryFor(const GUID& clsid, std::string* error);
  // Creates an object of the class and hands it the window's site.
  bool createObject(int number, Window& window, const std::string& role, const GUID& clsid);
  void releaseObject(int number, Object& object);
  void reportProblems(const std::vector<std::string>& problems);

  std::vector<std::unique_ptr<LoadedLibrary>> libraries_;  // in load order
  std::map<int, Window> windows_;
  int nextWindow_ = 1;
  bool quit_ = false;
};

}  // namespace host
