// The entry points of libBookmark.so, the only symbols it exports: the
// loader's DllMain and the four functions of an in-process COM server.
#include "platform/com.h"
#include "platform/files.h"
#include "platform/library.h"
#include "plugin/identifiers.h"
#include "plugin/ie_bookmark.h"
#include "plugin/lifecycle.h"
#include "plugin/registration.h"

#define BOOKMARK_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::filesystem::path thisModule() {
  return platform::modulePath(reinterpret_cast<const void*>(&thisModule));
}

}  // namespace

BOOKMARK_EXPORT int32_t DllMain(void* module, uint32_t reason, void*) {
  if (reason == platform::kDllProcessAttach) {
    bookmark::onProcessAttach(module);
  } else if (reason == platform::kDllProcessDetach) {
    bookmark::onProcessDetach();
  }
  return 1;
}

BOOKMARK_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != bookmark::CLSID_IEBookmark) return CLASS_E_CLASSNOTAVAILABLE;
  return bookmark::BookmarkClassFactory::instance().QueryInterface(riid, object);
}

BOOKMARK_EXPORT HRESULT DllCanUnloadNow() {
  return bookmark::liveObjectCount() == 0 && bookmark::BookmarkClassFactory::lockCount() == 0 ? S_OK : S_FALSE;
}

BOOKMARK_EXPORT HRESULT DllRegisterServer() { return bookmark::registerServer(thisModule()); }

BOOKMARK_EXPORT HRESULT DllUnregisterServer() { return bookmark::unregisterServer(thisModule()); }
