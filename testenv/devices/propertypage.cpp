#include "propertypage.h"

#include <strmif.h>
#include <amvideo.h>
#include <dvdmedia.h>
#include <mmreg.h>
#include <olectl.h>
#include <strmif.h>
#include <uuids.h>
#include <wrl/client.h>

#include <stdio.h>

#include <new>
#include <string>

#include "base.h"
#include "testdevices.h"

namespace zvd {
namespace {

const wchar_t kTitle[] = L"Zelvora Device";
const SIZE kPageSize = {260, 90};

std::wstring DescribeFormat(const AM_MEDIA_TYPE* mt) {
  if (!mt) return L"no format";
  wchar_t text[128];
  if (mt->pbFormat && IsEqualGUID(mt->formattype, FORMAT_VideoInfo) && mt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    DWORD fourcc = info->bmiHeader.biCompression;
    char code[5] = {0};
    if (fourcc == BI_RGB) {
      snprintf(code, sizeof(code), "RGB%d", info->bmiHeader.biBitCount);
    } else {
      for (int i = 0; i < 4; ++i) code[i] = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
    }
    double fps = info->AvgTimePerFrame ? 1e7 / static_cast<double>(info->AvgTimePerFrame) : 0.0;
    swprintf(text, 128, L"%hs %ldx%ld at %.2f frames/s", code, static_cast<long>(info->bmiHeader.biWidth),
             static_cast<long>(info->bmiHeader.biHeight), fps);
    return text;
  }
  if (mt->pbFormat && IsEqualGUID(mt->formattype, FORMAT_WaveFormatEx) && mt->cbFormat >= sizeof(WAVEFORMATEX) - 2) {
    const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
    swprintf(text, 128, L"PCM %lu Hz, %u channel(s), %u bits", static_cast<unsigned long>(wfx->nSamplesPerSec),
             static_cast<unsigned>(wfx->nChannels), static_cast<unsigned>(wfx->wBitsPerSample));
    return text;
  }
  return L"other format";
}

class PropertyPage final : public IPropertyPage, private CountedObject {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyPage)) {
      *ppv = static_cast<IPropertyPage*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_ref); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG count = InterlockedDecrement(&m_ref);
    if (count == 0) delete this;
    return count;
  }

  STDMETHODIMP SetPageSite(IPropertyPageSite* site) override {
    if (site && m_site) return E_UNEXPECTED;
    m_site = site;
    return S_OK;
  }

  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL) override {
    if (!rect) return E_POINTER;
    if (m_window) return E_UNEXPECTED;
    SetLastError(0);
    m_window = CreateWindowExW(0, L"STATIC", Text().c_str(), WS_CHILD | SS_LEFT, rect->left, rect->top,
                               rect->right - rect->left, rect->bottom - rect->top, parent, nullptr, DllModule(), nullptr);
    if (m_window) return S_OK;
    // Wine without a display creates no child windows and sets no error: still a failure.
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }

  STDMETHODIMP Deactivate() override {
    if (m_window) DestroyWindow(m_window);
    m_window = nullptr;
    return S_OK;
  }

  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override {
    if (!info) return E_POINTER;
    ZeroMemory(info, sizeof(*info));
    info->cb = sizeof(*info);
    info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(kTitle)));
    if (!info->pszTitle) return E_OUTOFMEMORY;
    memcpy(info->pszTitle, kTitle, sizeof(kTitle));
    info->size = kPageSize;
    return S_OK;
  }

  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override {
    if (count && !objects) return E_POINTER;
    m_device.Reset();
    // The first object that is one of our devices; a page without one shows nothing useful.
    for (ULONG i = 0; i < count; ++i) {
      if (objects[i] &&
          SUCCEEDED(objects[i]->QueryInterface(IID_IZelvoraDeviceControl, reinterpret_cast<void**>(m_device.GetAddressOf()))))
        break;
    }
    if (m_window) SetWindowTextW(m_window, Text().c_str());
    return S_OK;
  }

  STDMETHODIMP Show(UINT show) override {
    if (!m_window) return E_UNEXPECTED;
    ShowWindow(m_window, show);
    return S_OK;
  }
  STDMETHODIMP Move(LPCRECT rect) override {
    if (!rect) return E_POINTER;
    if (!m_window) return E_UNEXPECTED;
    MoveWindow(m_window, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
  }
  STDMETHODIMP IsPageDirty() override { return S_FALSE; }  // nothing to change
  STDMETHODIMP Apply() override { return S_OK; }
  STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

 private:
  ~PropertyPage() { Deactivate(); }

  std::wstring Text() {
    if (!m_device) return L"No Zelvora device";
    WCHAR name[128] = {0};
    ULONG kind = 0;
    m_device->GetIdentity(&kind, name, 128);
    AM_MEDIA_TYPE* mt = nullptr;
    std::wstring format = SUCCEEDED(m_device->GetCurrentFormat(&mt)) ? DescribeFormat(mt) : L"no format";
    DeleteMediaTypeRecord(mt);
    return std::wstring(name) + L"\r\n" + format;
  }

  volatile LONG m_ref = 1;
  Microsoft::WRL::ComPtr<IPropertyPageSite> m_site;
  Microsoft::WRL::ComPtr<IZelvoraDeviceControl> m_device;
  HWND m_window = nullptr;
};

}  // namespace

HRESULT CreatePropertyPage(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  PropertyPage* page = new (std::nothrow) PropertyPage();
  if (!page) return E_OUTOFMEMORY;
  HRESULT hr = page->QueryInterface(riid, ppv);
  page->Release();
  return hr;
}

}  // namespace zvd
