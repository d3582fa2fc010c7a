#pragma once

// Hand-written COM objects that stand in for capture devices, pins and writers in unit tests:
// capability lists, media type lists, pin categories and file sinks under the test's control,
// with counters for what the code under test did to them.

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>
#include <dvdmedia.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "support/fake_com.h"

namespace fakes {

using Microsoft::WRL::ComPtr;
using testsupport::FakeCom;
using testsupport::FakeEnumMediaTypes;
using testsupport::FakeFilter;
using testsupport::FakePin;
using testsupport::kPropSetUnsupported;
using testsupport::MediaTypeList;
using testsupport::NewMediaTypeRecord;
using testsupport::Primary;
using testsupport::ProcessClass;
using testsupport::ReleaseCounter;

// One capability of a fake capture pin.
struct Capability {
  GUID subtype;
  int width;
  int height;
  GUID formatType = FORMAT_VideoInfo;
  int minWidth = -1;   // MinOutputSize.cx; -1: same as width
  int maxHeight = -1;  // MaxOutputSize.cy; -1: same as height
  ULONG formatBytes = 0;  // 0: the whole header of the format type
};

// Output pin "Capture" of a fake capture filter: a pin category, a media type list and a stream
// configuration (IAMStreamConfig) over a list of capabilities. Every record GetStreamCaps hands
// out carries `records` as its pUnk, so the number of releases tells how many were given back.
class FakeCapturePin final : public FakePin<IAMStreamConfig> {
 public:
  FakeCapturePin(IBaseFilter* owner, const GUID& pinCategory, std::vector<Capability> caps)
      : FakePin(owner, L"Capture", PINDIR_OUTPUT, MEDIATYPE_Video, &pinCategory), capabilities(std::move(caps)) {
    types.types.push_back({MEDIATYPE_Video, MEDIASUBTYPE_YUY2});
  }

  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_FALSE; }

  // IAMStreamConfig
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override {
    ++setFormatCalls;
    if (pmt) {
      applied = *pmt;
      applied.pbFormat = nullptr;
      applied.pUnk = nullptr;
      if (pmt->pbFormat && pmt->cbFormat >= sizeof(VIDEOINFOHEADER))
        appliedHeader = *reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
    }
    return setFormatResult;
  }
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override { return E_NOTIMPL; }
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override {
    ++countCalls;
    if (FAILED(countResult)) return countResult;
    *count = static_cast<int>(capabilities.size());
    *size = capsSize;
    return S_OK;
  }
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) override {
    ++capsCalls;
    if (!ppmt || !caps) return E_POINTER;
    *ppmt = nullptr;
    if (index == failAt) return E_FAIL;
    if (index < 0 || index >= static_cast<int>(capabilities.size())) return S_FALSE;
    const Capability& c = capabilities[index];
    const bool info2 = IsEqualGUID(c.formatType, FORMAT_VideoInfo2) != FALSE;
    ULONG bytes = c.formatBytes ? c.formatBytes : (info2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
    AM_MEDIA_TYPE* mt = NewMediaTypeRecord(MEDIATYPE_Video, c.subtype, c.formatType, bytes, &records);
    const int maxHeight = c.maxHeight < 0 ? c.height : c.maxHeight;
    if (!info2 && bytes >= sizeof(VIDEOINFOHEADER)) {
      VIDEOINFOHEADER* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
      SetRect(&vih->rcSource, 0, 0, c.width, maxHeight);
      vih->rcTarget = vih->rcSource;
      vih->dwBitRate = 1000 + index;  // tells the capabilities apart
      vih->AvgTimePerFrame = 333333;
      vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
      vih->bmiHeader.biWidth = c.width;
      vih->bmiHeader.biHeight = maxHeight;
      vih->bmiHeader.biPlanes = 1;
      vih->bmiHeader.biBitCount = 16;
      vih->bmiHeader.biCompression = c.subtype.Data1;
      vih->bmiHeader.biSizeImage = 1;
      mt->lSampleSize = 1;
    }
    // The record the configuration announced, in full.
    memset(caps, 0, static_cast<size_t>(capsSize));
    VIDEO_STREAM_CONFIG_CAPS* vscc = reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps);
    vscc->guid = c.formatType;
    vscc->MinOutputSize.cx = c.minWidth < 0 ? c.width : c.minWidth;
    vscc->MinOutputSize.cy = c.height;
    vscc->MaxOutputSize.cx = c.width;
    vscc->MaxOutputSize.cy = maxHeight;
    ++handedOut;
    *ppmt = mt;
    return S_OK;
  }

  std::vector<Capability> capabilities;
  int capsSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  HRESULT countResult = S_OK;
  HRESULT setFormatResult = S_OK;
  int failAt = -1;
  ReleaseCounter records;
  int handedOut = 0;
  int countCalls = 0;
  int capsCalls = 0;
  int setFormatCalls = 0;
  AM_MEDIA_TYPE applied = {};
  VIDEOINFOHEADER appliedHeader = {};

  bool offerStreamConfig = true;

 private:
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, IID_IAMStreamConfig)) return offerStreamConfig ? static_cast<IAMStreamConfig*>(this) : nullptr;
    return FakePin::Find(riid);
  }
};

// A capture source with one output pin of the given category.
class FakeCaptureFilter final : public FakeFilter<> {
 public:
  FakeCaptureFilter(const CLSID& clsid, const GUID& pinCategory, std::vector<Capability> caps) : FakeFilter(clsid) {
    m_pin.Attach(new FakeCapturePin(this, pinCategory, std::move(caps)));
  }
  FakeCapturePin* Pin() { return m_pin.Get(); }

 private:
  std::vector<IPin*> Pins() override { return {m_pin.Get()}; }
  ComPtr<FakeCapturePin> m_pin;
};

// A file writer: a filter without pins that takes a file name through IFileSinkFilter.
class FakeWriter final : public FakeFilter<IFileSinkFilter> {
 public:
  struct Record {
    int created = 0;
    int alive = 0;
    std::wstring fileName;
    HRESULT setFileNameResult = S_OK;
    bool offerFileSink = true;
  };

  FakeWriter(const CLSID& clsid, Record* record) : FakeFilter(clsid), m_record(record) {
    ++record->created;
    ++record->alive;
  }
  STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
    if (FAILED(m_record->setFileNameResult)) return m_record->setFileNameResult;
    m_record->fileName = name ? name : L"";
    return S_OK;
  }
  STDMETHODIMP GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }

 private:
  ~FakeWriter() override { --m_record->alive; }
  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, IID_IFileSinkFilter)) return m_record->offerFileSink ? static_cast<IFileSinkFilter*>(this) : nullptr;
    return FakeFilter::Find(riid);
  }
  Record* m_record;
};

}  // namespace fakes
