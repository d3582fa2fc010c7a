#include "media/camgraphybuilder.h"

#include <uuids.h>

using Microsoft::WRL::ComPtr;

namespace zelvora {

CaptureBuilder::CaptureBuilder() {
  m_hrCreate = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_ALL, IID_ICaptureGraphBuilder2,
                                reinterpret_cast<void**>(m_pBuilder.ReleaseAndGetAddressOf()));
  if (FAILED(m_hrCreate)) m_pBuilder.Reset();
}

CaptureBuilder::CaptureBuilder(ICaptureGraphBuilder2* platformBuilder) : m_pBuilder(platformBuilder) {
  if (!platformBuilder) m_hrCreate = E_NOINTERFACE;
}

CaptureBuilder::~CaptureBuilder() = default;

HRESULT CaptureBuilder::AllocCapFile(LPCOLESTR fileName, DWORDLONG size) {
  return m_pBuilder ? m_pBuilder->AllocCapFile(fileName, size) : Missing();
}

HRESULT CaptureBuilder::CopyCaptureFile(LPOLESTR oldName, LPOLESTR newName, int allowEscAbort,
                                        IAMCopyCaptureFileProgress* callback) {
  return m_pBuilder ? m_pBuilder->CopyCaptureFile(oldName, newName, allowEscAbort, callback) : Missing();
}

namespace {

// File types whose writer the builder object creates itself when the platform builder does not
// implement SetOutputFileName (Wine's answers E_NOTIMPL).
struct WriterKind {
  const GUID* subtype;
  const CLSID* filterClass;
  const WCHAR* filterName;
};
const WriterKind kWriters[] = {
    {&MEDIASUBTYPE_Asf, &CLSID_WMAsfWriter, L"WM ASF Writer"},
};

const WriterKind* FindWriterKind(const GUID& subtype) {
  for (const WriterKind& kind : kWriters) {
    if (IsEqualGUID(subtype, *kind.subtype)) return &kind;
  }
  return nullptr;
}

}  // namespace

HRESULT CaptureBuilder::SetOutputFileName(const GUID* subtype, LPCOLESTR fileName, IBaseFilter** writer,
                                          IFileSinkFilter** sink) {
  if (!subtype || !fileName || !writer) return E_POINTER;
  *writer = nullptr;
  if (sink) *sink = nullptr;
  if (!m_pBuilder) return Missing();
  // The platform's own writer first; only a builder without the operation leaves it to us.
  HRESULT hr = m_pBuilder->SetOutputFileName(subtype, fileName, writer, sink);
  const WriterKind* kind = FindWriterKind(*subtype);
  if (hr != E_NOTIMPL || !kind) return hr;
  return CreateWriter(*kind->filterClass, kind->filterName, fileName, writer, sink);
}

HRESULT CaptureBuilder::CreateWriter(REFCLSID filterClass, LPCWSTR filterName, LPCOLESTR fileName,
                                     IBaseFilter** writer, IFileSinkFilter** sink) {
  // The writer goes into the graph that the platform builder was given.
  ComPtr<IGraphBuilder> graph;
  HRESULT hr = m_pBuilder->GetFiltergraph(&graph);
  if (FAILED(hr)) return hr;
  if (!graph) return E_UNEXPECTED;
  ComPtr<IBaseFilter> filter;
  hr = CoCreateInstance(filterClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        reinterpret_cast<void**>(filter.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<IFileSinkFilter> fileSink;
  hr = filter.As(&fileSink);
  if (FAILED(hr)) return hr;
  hr = fileSink->SetFileName(fileName, nullptr);
  if (FAILED(hr)) return hr;
  hr = graph->AddFilter(filter.Get(), filterName);
  if (FAILED(hr)) return hr;

  *writer = filter.Detach();
  if (sink) *sink = fileSink.Detach();
  return S_OK;
}

HRESULT CaptureBuilder::ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter,
                                      REFERENCE_TIME* start, REFERENCE_TIME* stop, WORD startCookie,
                                      WORD stopCookie) {
  return m_pBuilder ? m_pBuilder->ControlStream(category, type, filter, start, stop, startCookie, stopCookie)
                    : Missing();
}

HRESULT CaptureBuilder::FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                                      void** ppv) {
  return m_pBuilder ? m_pBuilder->FindInterface(category, type, filter, riid, ppv) : Missing();
}

HRESULT CaptureBuilder::FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category,
                                const GUID* type, BOOL unconnected, int index, IPin** pin) {
  return m_pBuilder ? m_pBuilder->FindPin(source, direction, category, type, unconnected, index, pin)
                    : Missing();
}

HRESULT CaptureBuilder::GetFiltergraph(IGraphBuilder** graph) {
  return m_pBuilder ? m_pBuilder->GetFiltergraph(graph) : Missing();
}

HRESULT CaptureBuilder::SetFiltergraph(IGraphBuilder* graph) {
  return m_pBuilder ? m_pBuilder->SetFiltergraph(graph) : Missing();
}

HRESULT CaptureBuilder::RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                     IBaseFilter* intermediate, IBaseFilter* sink) {
  return m_pBuilder ? m_pBuilder->RenderStream(category, type, source, intermediate, sink) : Missing();
}

BOOL CaptureBuilder::HasMpeg2MediaType(IPin* pin) const {
  if (!pin) return FALSE;
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(&types)) || !types) return FALSE;
  if (FAILED(types->Reset())) return FALSE;
  for (;;) {
    AM_MEDIA_TYPE* mediaType = nullptr;
    if (types->Next(1, &mediaType, nullptr) != S_OK || !mediaType) return FALSE;
    const BOOL major = IsEqualGUID(mediaType->majortype, MEDIATYPE_Video) ||
                       IsEqualGUID(mediaType->majortype, MEDIATYPE_Stream);
    const BOOL sub = IsEqualGUID(mediaType->subtype, MEDIASUBTYPE_MPEG2_VIDEO) ||
                     IsEqualGUID(mediaType->subtype, MEDIASUBTYPE_MPEG2_PROGRAM);
    m_Utility.DeleteMediaTypeRecord(mediaType);
    if (major && sub) return TRUE;
  }
}

}  // namespace zelvora
