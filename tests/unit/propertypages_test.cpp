// ShowFilterPropertyPages with filters of the test's own: which filter's pages are shown, the
// object the frame is given, the page list freed, no reference kept, and the quiet cases. Without
// an X display the system's property frame returns at once after it has created the pages.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <vector>

#include "com_fakes.h"
#include "support/free_spy.h"
#include "capturegraph_access.h"

namespace zelvora {
namespace {

using fakes::ComPtr;

// {3F0E7C2A-5B7D-4C55-9E27-0B0C5D8E4A11}: a page class registered by the test for its process.
const CLSID CLSID_TestPage = {0x3f0e7c2a, 0x5b7d, 0x4c55, {0x9e, 0x27, 0x0b, 0x0c, 0x5d, 0x8e, 0x4a, 0x11}};

// What the pages created by the frame were given.
struct PageLog {
  int created = 0;
  std::vector<std::vector<IUnknown*>> objects;  // per SetObjects call with objects
};
PageLog g_pages;

class TestPage final : public fakes::FakeCom<IPropertyPage> {
 public:
  STDMETHODIMP SetPageSite(IPropertyPageSite*) override { return S_OK; }
  STDMETHODIMP Activate(HWND, LPCRECT, BOOL) override { return E_FAIL; }
  STDMETHODIMP Deactivate() override { return S_OK; }
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override {
    if (!info) return E_POINTER;
    ZeroMemory(info, sizeof(*info));
    info->cb = sizeof(*info);
    // No title: Wine's property frame never gives a page's title back to the task allocator,
    // which would keep the test's allocator spy registered for good.
    info->size.cx = 100;
    info->size.cy = 50;
    return S_OK;
  }
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override {
    if (count && objects) g_pages.objects.emplace_back(objects, objects + count);
    return S_OK;
  }
  STDMETHODIMP Show(UINT) override { return S_OK; }
  STDMETHODIMP Move(LPCRECT) override { return S_OK; }
  STDMETHODIMP IsPageDirty() override { return S_FALSE; }
  STDMETHODIMP Apply() override { return S_OK; }
  STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

 private:
  void* Find(REFIID riid) override { return fakes::Primary(riid, IID_IPropertyPage, static_cast<IPropertyPage*>(this)); }
};

class TestPageFactory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    TestPage* page = new TestPage();
    HRESULT hr = page->QueryInterface(riid, ppv);
    page->Release();
    if (SUCCEEDED(hr)) ++g_pages.created;
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

// A device filter whose pages the test controls; without pages it offers no ISpecifyPropertyPages.
class PagedFilter final : public fakes::FakeFilter<ISpecifyPropertyPages> {
 public:
  PagedFilter(bool offersPages, HRESULT getPagesResult, ULONG pageCount)
      : FakeFilter(GUID_NULL), m_offersPages(offersPages), m_result(getPagesResult), m_count(pageCount) {}
  STDMETHODIMP GetPages(CAUUID* pages) override {
    ++getPagesCalls;
    if (!pages) return E_POINTER;
    if (FAILED(m_result)) return m_result;  // leaves the list as it was
    pages->cElems = m_count;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * (m_count ? m_count : 1)));
    for (ULONG i = 0; i < m_count; ++i) pages->pElems[i] = CLSID_TestPage;
    list = pages->pElems;
    return m_result;
  }
  int getPagesCalls = 0;
  void* list = nullptr;

 private:
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
      return m_offersPages ? static_cast<ISpecifyPropertyPages*>(this) : nullptr;
    return FakeFilter::Find(riid);
  }
  bool m_offersPages;
  HRESULT m_result;
  ULONG m_count;
};

class PropertyPages : public testing::Test {
 protected:
  void SetUp() override {
    g_pages = PageLog();
    ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_TestPage, &m_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                          &m_cookie));
    // Registered for the test only; every block allocated meanwhile is freed again by then, so
    // the allocator lets it go (it keeps a spy while blocks allocated under it are alive).
    ASSERT_EQ(S_OK, CoRegisterMallocSpy(&m_spy));
  }
  void TearDown() override {
    EXPECT_EQ(S_OK, CoRevokeMallocSpy()) << "blocks of the task allocator left behind";
    CoRevokeClassObject(m_cookie);
  }
  // Puts the filter in the field (the field holds one reference of its own).
  static void Hold(ComPtr<IBaseFilter>& field, PagedFilter* filter) { field = static_cast<IBaseFilter*>(filter); }

  TestPageFactory m_factory;
  testsupport::FreeSpy m_spy;
  DWORD m_cookie = 0;
};

TEST_F(PropertyPages, NoFilterOfTheKindGivesSFalse) {
  CaptureGraph graph;
  EXPECT_EQ(S_FALSE, graph.ShowFilterPropertyPages(TRUE));
  EXPECT_EQ(S_FALSE, graph.ShowFilterPropertyPages(FALSE));
  // A camera without a microphone: the audio side still has nothing to show.
  PagedFilter* camera = new PagedFilter(true, S_OK, 1);
  Hold(CaptureGraphTestAccess::VideoCapture(graph), camera);
  EXPECT_EQ(S_FALSE, graph.ShowFilterPropertyPages(FALSE));
  EXPECT_EQ(0, camera->getPagesCalls);
  EXPECT_EQ(0, g_pages.created);
  camera->Release();
}

TEST_F(PropertyPages, EachSideShowsItsOwnFiltersPagesWithThatFilterAsTheOneObject) {
  CaptureGraph graph;
  PagedFilter* camera = new PagedFilter(true, S_OK, 1);
  PagedFilter* microphone = new PagedFilter(true, S_OK, 2);
  Hold(CaptureGraphTestAccess::VideoCapture(graph), camera);
  Hold(CaptureGraphTestAccess::AudioCapture(graph), microphone);
  const LONG cameraRefs = camera->Refs(), microphoneRefs = microphone->Refs();

  EXPECT_EQ(S_OK, graph.ShowFilterPropertyPages(TRUE));
  EXPECT_EQ(1, camera->getPagesCalls);
  EXPECT_EQ(0, microphone->getPagesCalls);
  ASSERT_EQ(1, g_pages.created);
  ASSERT_EQ(1u, g_pages.objects.size());
  ASSERT_EQ(1u, g_pages.objects[0].size());
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IBaseFilter*>(camera)), g_pages.objects[0][0]);
  EXPECT_TRUE(m_spy.Freed(camera->list)) << "the page list is given back to the task allocator";
  EXPECT_EQ(cameraRefs, camera->Refs()) << "no reference kept";

  EXPECT_EQ(S_OK, graph.ShowFilterPropertyPages(FALSE));
  EXPECT_EQ(1, microphone->getPagesCalls);
  EXPECT_EQ(3, g_pages.created);  // both of the microphone's pages
  ASSERT_GE(g_pages.objects.size(), 2u);
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IBaseFilter*>(microphone)), g_pages.objects.back()[0]);
  EXPECT_TRUE(m_spy.Freed(microphone->list));
  EXPECT_EQ(microphoneRefs, microphone->Refs());
  camera->Release();
  microphone->Release();
}

TEST_F(PropertyPages, FiltersWithoutUsablePagesGiveSOkAndShowNothing) {
  struct Case {
    const char* what;
    bool offersPages;
    HRESULT result;
  } cases[] = {{"no ISpecifyPropertyPages", false, S_OK},
               {"GetPages fails", true, E_FAIL},
               {"GetPages answers S_FALSE", true, S_FALSE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_pages = PageLog();
    m_spy.freed.clear();
    CaptureGraph graph;
    PagedFilter* camera = new PagedFilter(c.offersPages, c.result, 1);
    Hold(CaptureGraphTestAccess::VideoCapture(graph), camera);
    const LONG refs = camera->Refs();
    EXPECT_EQ(S_OK, graph.ShowFilterPropertyPages(TRUE));
    EXPECT_EQ(0, g_pages.created) << "no frame";
    EXPECT_EQ(refs, camera->Refs());
    // A list handed out with a success code is given back; a failed call hands out none.
    if (camera->list) {
      EXPECT_TRUE(m_spy.Freed(camera->list));
    }
    camera->Release();
  }
}


}  // namespace
}  // namespace zelvora
