#pragma once
// Stand-in for the platform's Color Converter DMO (CLSID_CColorConvertDMO
// {98230571-0087-4204-B020-3282538E57D3}), which hosts put in a graph through the DMO Wrapper
// filter. Wine 8 registers one (winegstreamer), but its IMediaObject::GetStreamCount is a stub, so
// the wrapper gets no pins from it. This one converts NV12 to I420 of the same size, the
// conversion Zelvora asks of it before the writer; other types are refused. Aggregatable, as the
// wrapper creates it aggregated.
#include <windows.h>
#include <mediaobj.h>

namespace zvd {

// {98230571-0087-4204-B020-3282538E57D3}
static const CLSID CLSID_StandInColorConverterDmo = {
    0x98230571, 0x0087, 0x4204, {0xb0, 0x20, 0x32, 0x82, 0x53, 0x8e, 0x57, 0xd3}};

HRESULT CreateColorConverter(IUnknown* outer, REFIID riid, void** ppv);

}  // namespace zvd
