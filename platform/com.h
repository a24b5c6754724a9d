// The few COM types that the plug-in and the browser stand-in share: GUID,
// HRESULT and the interfaces IUnknown, IClassFactory, IObjectWithSite,
// IOleCommandTarget, IServiceProvider and a reduced IWebBrowser2.
//
// The interfaces are plain C++ abstract classes whose virtual functions come
// in the same order as in the system's headers, so a vtable built here has the
// slot layout of the real one (IUnknown's three methods first). The names are
// the system's own and live at global scope, as they do there: a Win32 build
// replaces this header by the system headers and the code above it compiles
// unchanged.
//
// IWebBrowser2 keeps IDispatch's four slots and IWebBrowser's slots up to
// Navigate as stubs so that Navigate sits in its real slot; everything after
// Navigate is left out because nothing here calls it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/export.h"

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using BOOL = int32_t;
using OLECHAR = char16_t;
// A length-prefixed UTF-16 string: the 32-bit byte length sits just before the
// characters, which end with a zero. Allocate with bstrAlloc, free with bstrFree.
using BSTR = OLECHAR*;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

// Result codes. The failure codes have the top bit set, so they are negative.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201);

inline constexpr bool hresultSucceeded(HRESULT hr) { return hr >= 0; }
inline constexpr bool hresultFailed(HRESULT hr) { return hr < 0; }

// Interface identifiers (the system's values).
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IObjectWithSite = {
    0xFC4801A3, 0x2BA9, 0x11CF, {0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52}};
inline constexpr IID IID_IOleCommandTarget = {
    0xB722BCCB, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};
inline constexpr IID IID_IServiceProvider = {
    0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
inline constexpr IID IID_IWebBrowserApp = {
    0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IWebBrowser2 = {
    0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};
// The service under which a browser site offers its IWebBrowser2.
inline constexpr GUID SID_SWebBrowserApp = IID_IWebBrowserApp;
inline constexpr GUID CLSID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// VARIANT, reduced to the members the stand-in passes.
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_UNKNOWN = 13;

struct IUnknown;

struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  uint16_t wReserved1 = 0, wReserved2 = 0, wReserved3 = 0;
  union {
    int32_t lVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    IUnknown* punkVal;
    int64_t llVal;
  };
  VARIANT() : llVal(0) {}
};

// IOleCommandTarget records.
struct OLECMD {
  ULONG cmdID;
  DWORD cmdf;
};
struct OLECMDTEXT {
  DWORD cmdtextf;
  ULONG cwActual;
  ULONG cwBuf;
  OLECHAR rgwz[1];
};
inline constexpr DWORD OLECMDF_SUPPORTED = 1;
inline constexpr DWORD OLECMDF_ENABLED = 2;

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects die through Release only
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

struct IObjectWithSite : IUnknown {
  virtual HRESULT SetSite(IUnknown* site) = 0;
  virtual HRESULT GetSite(REFIID riid, void** site) = 0;

 protected:
  ~IObjectWithSite() = default;
};

struct IOleCommandTarget : IUnknown {
  virtual HRESULT QueryStatus(const GUID* cmdGroup, ULONG commandCount, OLECMD commands[],
                              OLECMDTEXT* commandText) = 0;
  virtual HRESULT Exec(const GUID* cmdGroup, DWORD commandId, DWORD commandOptions, VARIANT* in,
                       VARIANT* out) = 0;

 protected:
  ~IOleCommandTarget() = default;
};

struct IServiceProvider : IUnknown {
  virtual HRESULT QueryService(REFGUID service, REFIID riid, void** object) = 0;

 protected:
  ~IServiceProvider() = default;
};

// IDispatch's slots, present only to keep the layout; nothing here calls them.
struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
  virtual HRESULT GetTypeInfo(uint32_t index, uint32_t locale, void** typeInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, OLECHAR** names, uint32_t count, uint32_t locale,
                                int32_t* ids) = 0;
  virtual HRESULT Invoke(int32_t id, REFIID riid, uint32_t locale, uint16_t flags, void* params,
                         VARIANT* result, void* exception, uint32_t* argumentError) = 0;

 protected:
  ~IDispatch() = default;
};

// IWebBrowser -> IWebBrowserApp -> IWebBrowser2, cut after Navigate.
struct IWebBrowser2 : IDispatch {
  virtual HRESULT GoBack() = 0;
  virtual HRESULT GoForward() = 0;
  virtual HRESULT GoHome() = 0;
  virtual HRESULT GoSearch() = 0;
  virtual HRESULT Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrameName, VARIANT* postData,
                           VARIANT* headers) = 0;

 protected:
  ~IWebBrowser2() = default;
};

// Exported entry points of an in-process server, as the loader and the
// registration tool look them up (extern "C", names without decoration).
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID riid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();

namespace platform {

// "{EF341F91-4715-46E2-B0AF-724E3225E52E}": upper-case hex, with the braces.
PLATFORM_API std::string guidToString(const GUID& guid);
// Parses the braced form, hex digits in either case; false (and *guid left
// alone) for anything else, including missing braces or extra characters.
PLATFORM_API bool guidFromString(std::string_view text, GUID* guid);

// BSTR helpers (SysAllocString, SysFreeString, SysStringLen). bstrFree(nullptr)
// does nothing; bstrLength(nullptr) is 0, as the system treats a null BSTR as
// the empty string.
PLATFORM_API BSTR bstrAlloc(std::u16string_view text);
PLATFORM_API void bstrFree(BSTR text);
PLATFORM_API uint32_t bstrLength(const OLECHAR* text);
PLATFORM_API std::u16string bstrToString(const OLECHAR* text);

// "0x80040201": the code as eight hex digits, as tools print it.
PLATFORM_API std::string hresultToString(HRESULT hr);

}  // namespace platform
