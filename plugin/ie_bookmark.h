// IEBookmark: the plug-in's COM object, created by the browser for every
// window as a browser helper object and as the handler of the toolbar button
// "Favorites". Its only state is its site. It supports aggregation: created
// with an outer object, its IUnknown methods delegate to the outer one and
// the creator holds the inner, non-delegating IUnknown.
#pragma once

#include <atomic>

#include "platform/com.h"

namespace bookmark {

// The interface of the class, without methods of its own.
struct IIEBookmark : IUnknown {
 protected:
  ~IIEBookmark() = default;
};

class IEBookmark final : public IIEBookmark, public IObjectWithSite, public IOleCommandTarget {
 public:
  // A new object with one reference on its inner IUnknown, which *inner
  // receives (and *self, when not null, the object). With an outer object the
  // object's IUnknown delegates to it.
  static HRESULT create(IUnknown* outer, IUnknown** inner, IEBookmark** self = nullptr);

  // IUnknown (delegating to the controlling object).
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IObjectWithSite
  HRESULT SetSite(IUnknown* site) override;
  HRESULT GetSite(REFIID riid, void** site) override;

  // IOleCommandTarget
  HRESULT QueryStatus(const GUID* cmdGroup, ULONG commandCount, OLECMD commands[],
                      OLECMDTEXT* commandText) override;
  HRESULT Exec(const GUID* cmdGroup, DWORD commandId, DWORD commandOptions, VARIANT* in,
               VARIANT* out) override;

  // The site as given to SetSite (no reference added), or null.
  IUnknown* site() const { return site_; }

 private:
  // The non-delegating IUnknown that owns the object's lifetime.
  struct Inner final : IUnknown {
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    IEBookmark* owner = nullptr;
  };

  explicit IEBookmark(IUnknown* outer);
  ~IEBookmark();

  Inner inner_;
  IUnknown* controlling_;  // the outer object, or &inner_
  std::atomic<ULONG> references_{0};
  IUnknown* site_ = nullptr;
};

// Objects alive in the process (DllCanUnloadNow).
long liveObjectCount();

// The class factory of IEBookmark (one per process, never deleted).
class BookmarkClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // Aggregation is allowed only with riid IID_IUnknown, as COM requires.
  // After the object exists it becomes the current object and the sign-up
  // callback is handed to the engine.
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  HRESULT LockServer(BOOL lock) override;

  static BookmarkClassFactory& instance();
  static long lockCount();
};

}  // namespace bookmark
