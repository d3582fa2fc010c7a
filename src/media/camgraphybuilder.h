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
  // For the subtypes whose writer it knows (MEDIASUBTYPE_Asf) the object does the work itself:
  // it creates the writer, gives it the file name through IFileSinkFilter, adds it to the
  // builder's graph and hands back the filter and (when `sink` is not null) its sink. Other
  // subtypes go to the platform builder. A null subtype, file name or `writer` is E_POINTER
  // before anything is created.
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

  Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> m_pBuilder;
  MediaUtility m_Utility;
  HRESULT m_hrCreate = S_OK;
};

}  // namespace zelvora
