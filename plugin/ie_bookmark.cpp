#include "plugin/ie_bookmark.h"

#include <new>

#include "engine/corvex.h"
#include "plugin/identifiers.h"
#include "plugin/lifecycle.h"
#include "plugin/plugin_state.h"

namespace bookmark {
namespace {

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

}  // namespace

long liveObjectCount() { return liveObjects.load(); }

HRESULT IEBookmark::create(IUnknown* outer, IUnknown** inner, IEBookmark** self) {
  if (!inner) return E_POINTER;
  *inner = nullptr;
  auto* object = new (std::nothrow) IEBookmark(outer);
  if (!object) return E_OUTOFMEMORY;
  object->inner_.AddRef();
  *inner = &object->inner_;
  if (self) *self = object;
  return S_OK;
}

IEBookmark::IEBookmark(IUnknown* outer) : controlling_(outer ? outer : &inner_) {
  inner_.owner = this;
  ++liveObjects;
}

IEBookmark::~IEBookmark() {
  if (site_) site_->Release();
  site_ = nullptr;
  PluginState& state = pluginState();
  if (state.currentObject == this) state.currentObject = nullptr;
  --liveObjects;
}

HRESULT IEBookmark::Inner::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  IEBookmark* me = owner;
  if (riid == IID_IUnknown) {
    *object = static_cast<IUnknown*>(this);
  } else if (riid == IID_IIEBookmark) {
    *object = static_cast<IIEBookmark*>(me);
  } else if (riid == IID_IObjectWithSite) {
    *object = static_cast<IObjectWithSite*>(me);
  } else if (riid == IID_IOleCommandTarget) {
    *object = static_cast<IOleCommandTarget*>(me);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*object)->AddRef();
  return S_OK;
}

ULONG IEBookmark::Inner::AddRef() { return ++owner->references_; }

ULONG IEBookmark::Inner::Release() {
  IEBookmark* me = owner;
  ULONG left = --me->references_;
  if (left == 0) delete me;
  return left;
}

HRESULT IEBookmark::QueryInterface(REFIID riid, void** object) {
  return controlling_->QueryInterface(riid, object);
}
ULONG IEBookmark::AddRef() { return controlling_->AddRef(); }
ULONG IEBookmark::Release() { return controlling_->Release(); }

HRESULT IEBookmark::SetSite(IUnknown* site) {
  if (site) site->AddRef();
  IUnknown* previous = site_;
  site_ = site;
  if (previous) previous->Release();
  return S_OK;
}

HRESULT IEBookmark::GetSite(REFIID riid, void** site) {
  if (!site) return E_POINTER;
  if (!site_) {
    *site = nullptr;
    return E_FAIL;
  }
  return site_->QueryInterface(riid, site);
}

HRESULT IEBookmark::QueryStatus(const GUID*, ULONG commandCount, OLECMD commands[], OLECMDTEXT*) {
  if (!commands) return E_POINTER;
  if (commandCount == 0) return E_UNEXPECTED;
  commands[0].cmdf = OLECMDF_ENABLED;
  return S_OK;
}

HRESULT IEBookmark::Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) {
  onToolbarCommand();
  return S_OK;
}

HRESULT BookmarkClassFactory::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// The factory lives as long as the module; its count is not its lifetime.
ULONG BookmarkClassFactory::AddRef() { return 2; }
ULONG BookmarkClassFactory::Release() { return 1; }

HRESULT BookmarkClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  IUnknown* inner = nullptr;
  IEBookmark* created = nullptr;
  HRESULT hr = IEBookmark::create(outer, &inner, &created);
  if (hresultFailed(hr)) return hr;
  hr = inner->QueryInterface(riid, object);
  if (hresultSucceeded(hr)) {
    pluginState().currentObject = created;
    SetRegisterFunc(&signUpCallback);
  }
  inner->Release();
  return hr;
}

HRESULT BookmarkClassFactory::LockServer(BOOL lock) {
  serverLocks += lock ? 1 : -1;
  return S_OK;
}

BookmarkClassFactory& BookmarkClassFactory::instance() {
  static BookmarkClassFactory factory;
  return factory;
}

long BookmarkClassFactory::lockCount() { return serverLocks.load(); }

}  // namespace bookmark
