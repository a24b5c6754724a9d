#include "host/site.h"

#include <string>

#include "host/output.h"
#include "platform/codepage.h"

namespace host {
namespace {

std::string variantText(const VARIANT* v) {
  if (!v) return {};
  switch (v->vt) {
    case VT_BSTR:
      return platform::utf16ToUtf8(platform::bstrToString(v->bstrVal));
    case VT_I4:
      return std::to_string(v->lVal);
    default:
      return {};
  }
}

}  // namespace

BrowserSite::BrowserSite(int window) : window_(window) {}

HRESULT BrowserSite::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
    *object = static_cast<IServiceProvider*>(this);
  } else if (riid == IID_IWebBrowser2 || riid == IID_IWebBrowserApp || riid == IID_IDispatch) {
    *object = static_cast<IWebBrowser2*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG BrowserSite::AddRef() { return ++references_; }

ULONG BrowserSite::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT BrowserSite::QueryService(REFGUID service, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (service != SID_SWebBrowserApp && service != IID_IWebBrowser2) return E_NOINTERFACE;
  return QueryInterface(riid, object);
}

HRESULT BrowserSite::GetTypeInfoCount(uint32_t* count) {
  if (count) *count = 0;
  return E_NOTIMPL;
}
HRESULT BrowserSite::GetTypeInfo(uint32_t, uint32_t, void**) { return E_NOTIMPL; }
HRESULT BrowserSite::GetIDsOfNames(REFIID, OLECHAR**, uint32_t, uint32_t, int32_t*) {
  return E_NOTIMPL;
}
HRESULT BrowserSite::Invoke(int32_t, REFIID, uint32_t, uint16_t, void*, VARIANT*, void*,
                            uint32_t*) {
  return E_NOTIMPL;
}
HRESULT BrowserSite::GoBack() { return E_NOTIMPL; }
HRESULT BrowserSite::GoForward() { return E_NOTIMPL; }
HRESULT BrowserSite::GoHome() { return E_NOTIMPL; }
HRESULT BrowserSite::GoSearch() { return E_NOTIMPL; }

HRESULT BrowserSite::Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrameName, VARIANT* postData,
                              VARIANT* headers) {
  if (!url) return E_POINTER;
  std::string line = "navigate window=" + std::to_string(window_) +
                     " url=" + quoteText(platform::utf16ToUtf8(platform::bstrToString(url)));
  const std::pair<const char*, VARIANT*> extras[] = {
      {"flags", flags}, {"target", targetFrameName}, {"postdata", postData}, {"headers", headers}};
  for (const auto& [name, value] : extras) {
    std::string text = variantText(value);
    if (!text.empty()) line += std::string(" ") + name + "=" + quoteText(text);
  }
  emitLine(line);
  return S_OK;
}

}  // namespace host
