#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include "media/camutilifun.h"

namespace zelvora {

// The object through which the camera code builds its graphs. It owns one platform capture
// graph builder and offers its operations under the same names.
class CaptureBuilder {
 public:
  // Creates the platform builder; a failure leaves it absent and is kept in CreateResult().
  CaptureBuilder();
  // Uses the given builder (may be null: then behaves as if creation had failed). For tests.
  explicit CaptureBuilder(ICaptureGraphBuilder2* platformBuilder);
  virtual ~CaptureBuilder();

  CaptureBuilder(const CaptureBuilder&) = delete;
  CaptureBuilder& operator=(const CaptureBuilder&) = delete;

  // Slot order follows the platform interface. Without a platform builder every operation
  // returns the creation failure (E_NOINTERFACE when none was recorded).
  virtual HRESULT AllocCapFile(LPCOLESTR fileName, DWORDLONG size);
  virtual HRESULT CopyCaptureFile(LPOLESTR oldName, LPOLESTR newName, int allowEscAbort,
                                  IAMCopyCaptureFileProgress* callback);
  // Asks the platform builder first and returns its answer, writer and sink. Only when it answers
  // E_NOTIMPL, and for a subtype whose writer the object knows (MEDIASUBTYPE_Asf), does the object
  // do the work itself: it creates the writer, gives it the file name through IFileSinkFilter,
  // adds it to the builder's graph and hands back the filter and (when `sink` is not null) its
  // sink. A null subtype, file name or `writer` is E_POINTER before anything is called.
  virtual HRESULT SetOutputFileName(const GUID* subtype, LPCOLESTR fileName, IBaseFilter** writer,
                                    IFileSinkFilter** sink);
  virtual HRESULT ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter,
                                REFERENCE_TIME* start, REFERENCE_TIME* stop, WORD startCookie,
                                WORD stopCookie);
  virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                                void** ppv);
  virtual HRESULT FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category,
                          const GUID* type, BOOL unconnected, int index, IPin** pin);
  virtual HRESULT GetFiltergraph(IGraphBuilder** graph);
  virtual HRESULT SetFiltergraph(IGraphBuilder* graph);
  virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                               IBaseFilter* intermediate, IBaseFilter* sink);

  // True when one of the pin's media types is MPEG-2 video or program stream under the video
  // or stream major type. Every record read is freed.
  BOOL HasMpeg2MediaType(IPin* pin) const;

  HRESULT CreateResult() const { return m_hrCreate; }

 private:
  HRESULT Missing() const { return FAILED(m_hrCreate) ? m_hrCreate : E_NOINTERFACE; }
  // The writer of SetOutputFileName made by hand, named `filterName` in the builder's graph.
  HRESULT CreateWriter(REFCLSID filterClass, LPCWSTR filterName, LPCOLESTR fileName, IBaseFilter** writer,
                       IFileSinkFilter** sink);

  Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> m_pBuilder;
  MediaUtility m_Utility;
  HRESULT m_hrCreate = S_OK;
};

}  // namespace zelvora
