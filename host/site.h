// The site a browser window hands to its extension objects: IServiceProvider
// for the SID_SWebBrowserApp service, and the window's IWebBrowser2, whose
// Navigate prints the address instead of loading it.
#pragma once

#include <atomic>

#include "platform/com.h"

namespace host {

class BrowserSite final : public IServiceProvider, public IWebBrowser2 {
 public:
  // Starts with one reference, the window's.
  explicit BrowserSite(int window);

  // IUnknown (both bases share one implementation).
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IServiceProvider
  HRESULT QueryService(REFGUID service, REFIID riid, void** object) override;

  // IDispatch: not offered.
  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t, uint32_t, void**) override;
  HRESULT GetIDsOfNames(REFIID, OLECHAR**, uint32_t, uint32_t, int32_t*) override;
  HRESULT Invoke(int32_t, REFIID, uint32_t, uint16_t, void*, VARIANT*, void*, uint32_t*) override;

  // IWebBrowser2
  HRESULT GoBack() override;
  HRESULT GoForward() override;
  HRESULT GoHome() override;
  HRESULT GoSearch() override;
  HRESULT Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrameName, VARIANT* postData,
                   VARIANT* headers) override;

  IUnknown* unknown() { return static_cast<IServiceProvider*>(this); }

 private:
  ~BrowserSite() = default;
  int window_;
  std::atomic<ULONG> references_{1};
};

}  // namespace host
