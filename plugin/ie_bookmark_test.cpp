// The object's COM contract: QueryStatus and GetSite results, aggregation,
// and the sign-up callback's use of the newest object's browser.
#include "plugin/ie_bookmark.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "plugin/identifiers.h"
#include "plugin/lifecycle.h"
#include "tests/support/temp_prefix.h"

namespace bookmark {
namespace {

// A browser site that records navigations.
class FakeSite final : public IServiceProvider, public IWebBrowser2 {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
      *object = static_cast<IServiceProvider*>(this);
    } else if (riid == IID_IWebBrowser2 && offersBrowser) {
      *object = static_cast<IWebBrowser2*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  HRESULT QueryService(REFGUID service, REFIID riid, void** object) override {
    if (service != SID_SWebBrowserApp || !offersBrowser) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    return QueryInterface(riid, object);
  }
  HRESULT GetTypeInfoCount(uint32_t*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(uint32_t, uint32_t, void**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, OLECHAR**, uint32_t, uint32_t, int32_t*) override { return E_NOTIMPL; }
  HRESULT Invoke(int32_t, REFIID, uint32_t, uint16_t, void*, VARIANT*, void*, uint32_t*) override {
    return E_NOTIMPL;
  }
  HRESULT GoBack() override { return E_NOTIMPL; }
  HRESULT GoForward() override { return E_NOTIMPL; }
  HRESULT GoHome() override { return E_NOTIMPL; }
  HRESULT GoSearch() override { return E_NOTIMPL; }
  HRESULT Navigate(BSTR url, VARIANT* flags, VARIANT* target, VARIANT* postData, VARIANT* headers) override {
    navigations.push_back(platform::utf16ToUtf8(platform::bstrToString(url)));
    extras += (flags != nullptr) + (target != nullptr) + (postData != nullptr) + (headers != nullptr);
    return S_OK;
  }

  ULONG references = 0;
  bool offersBrowser = true;
  std::vector<std::string> navigations;
  int extras = 0;
};

// An outer object that counts the references the inner one passes to it.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  ULONG references = 1;
};

template <typename Interface>
Interface* create(REFIID riid) {
  void* object = nullptr;
  EXPECT_EQ(BookmarkClassFactory::instance().CreateInstance(nullptr, riid, &object), S_OK);
  return static_cast<Interface*>(object);
}

TEST(IEBookmarkTest, QueryStatusResults) {
  auto* target = create<IOleCommandTarget>(IID_IOleCommandTarget);
  ASSERT_NE(target, nullptr);
  OLECMD commands[2] = {{1, 0}, {2, 0}};
  EXPECT_EQ(target->QueryStatus(nullptr, 1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(target->QueryStatus(nullptr, 0, commands, nullptr), E_UNEXPECTED);
  EXPECT_EQ(commands[0].cmdf, 0u);
  EXPECT_EQ(target->QueryStatus(nullptr, 2, commands, nullptr), S_OK);
  EXPECT_EQ(commands[0].cmdf, OLECMDF_ENABLED);
  EXPECT_EQ(commands[1].cmdf, 0u) << "only the first command is answered";
  EXPECT_EQ(target->Release(), 0u);
}

TEST(IEBookmarkTest, GetSiteResultsAndSiteReferences) {
  auto* withSite = create<IObjectWithSite>(IID_IObjectWithSite);
  ASSERT_NE(withSite, nullptr);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(withSite->GetSite(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(withSite->GetSite(IID_IUnknown, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);

  FakeSite site;
  EXPECT_EQ(withSite->SetSite(static_cast<IServiceProvider*>(&site)), S_OK);
  EXPECT_EQ(site.references, 1u);
  EXPECT_EQ(withSite->GetSite(IID_IServiceProvider, &out), S_OK);
  EXPECT_EQ(out, static_cast<IServiceProvider*>(&site));
  EXPECT_EQ(site.references, 2u);
  site.Release();
  EXPECT_EQ(withSite->GetSite(IID_IOleCommandTarget, &out), E_NOINTERFACE) << "the site answers";

  EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
  EXPECT_EQ(site.references, 0u);
  withSite->SetSite(static_cast<IServiceProvider*>(&site));
  EXPECT_EQ(withSite->Release(), 0u);
  EXPECT_EQ(site.references, 0u) << "destruction releases the site";
  EXPECT_EQ(liveObjectCount(), 0);
}

TEST(IEBookmarkTest, AggregatedObjectDelegatesToItsOuterObject) {
  Outer outer;
  void* object = nullptr;
  EXPECT_EQ(BookmarkClassFactory::instance().CreateInstance(&outer, IID_IObjectWithSite, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);

  ASSERT_EQ(BookmarkClassFactory::instance().CreateInstance(&outer, IID_IUnknown, &object), S_OK);
  auto* inner = static_cast<IUnknown*>(object);
  IOleCommandTarget* target = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IOleCommandTarget, reinterpret_cast<void**>(&target)), S_OK);
  EXPECT_EQ(outer.references, 2u) << "an interface of the aggregate counts on the outer object";
  IIEBookmark* typed = nullptr;
  EXPECT_EQ(target->QueryInterface(IID_IIEBookmark, reinterpret_cast<void**>(&typed)), E_NOINTERFACE)
      << "QueryInterface of an interface goes to the outer object";
  target->Release();
  EXPECT_EQ(outer.references, 1u);
  EXPECT_EQ(inner->QueryInterface(IID_IIEBookmark, reinterpret_cast<void**>(&typed)), S_OK);
  typed->Release();
  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(liveObjectCount(), 0);
}

TEST(IEBookmarkTest, SignUpUsesTheNewestObjectsBrowser) {
  testsupport::TempPrefix prefix;
  platform::RegKey key;
  ASSERT_EQ(platform::RegKey::create(platform::RegRoot::CurrentUser, "Software\\Veltrane Inc.\\Quorvane\\Explorer", &key),
            platform::kOk);
  key.setString("server", "bookmarks.example/data");
  key.setDword("server_port", 8080);

  FakeSite older, newer;
  auto* first = create<IObjectWithSite>(IID_IObjectWithSite);
  first->SetSite(static_cast<IServiceProvider*>(&older));
  auto* second = create<IObjectWithSite>(IID_IObjectWithSite);
  signUpCallback();
  EXPECT_TRUE(older.navigations.empty());
  EXPECT_TRUE(newer.navigations.empty()) << "the newest object has no site yet";

  second->SetSite(static_cast<IServiceProvider*>(&newer));
  signUpCallback();
  EXPECT_EQ(newer.navigations,
            (std::vector<std::string>{"http://bookmarks.example:8080/registration.jsp?action=Navigation&param=0"}));
  EXPECT_EQ(newer.extras, 0) << "no flags, frame, post data or headers";

  newer.offersBrowser = false;
  signUpCallback();
  EXPECT_EQ(newer.navigations.size(), 1u) << "a site without a browser is left alone";

  second->Release();
  signUpCallback();
  EXPECT_TRUE(older.navigations.empty()) << "once the newest object is gone, nothing until the next one";
  first->Release();
}

TEST(IEBookmarkTest, SignUpAddressKeepsPort80Implicit) {
  testsupport::TempPrefix prefix;
  EXPECT_EQ(signUpAddress("Explorer"), "http://localhost/registration.jsp?action=Navigation&param=0");
  platform::RegKey key;
  ASSERT_EQ(platform::RegKey::create(platform::RegRoot::CurrentUser, "Software\\Veltrane Inc.\\Quorvane\\Explorer", &key),
            platform::kOk);
  key.setString("server", "127.0.0.1");
  key.setDword("server_port", 80);
  EXPECT_EQ(signUpAddress("Explorer"), "http://127.0.0.1/registration.jsp?action=Navigation&param=0");
}

}  // namespace
}  // namespace bookmark
