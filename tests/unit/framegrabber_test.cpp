// Frames through Wine's own sample grabber: a small uncompressed YUY2 AVI file is played through
// the file source, the AVI splitter and a sample grabber that calls the frame callback object.
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture/framecallback.h"
#include "capture/yuvconvert.h"
#include "media/dshowids.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

std::vector<std::vector<unsigned char>> g_pictures;

void __cdecl KeepPicture(RenderFrame* frame, int, int) {
  g_pictures.emplace_back(frame->data, frame->data ? frame->data + frame->width * frame->height * 3 : frame->data);
}

void Put32(std::vector<BYTE>& f, DWORD v) {
  for (int i = 0; i < 4; ++i) f.push_back(static_cast<BYTE>(v >> (8 * i)));
}
void Put16(std::vector<BYTE>& f, WORD v) {
  f.push_back(static_cast<BYTE>(v));
  f.push_back(static_cast<BYTE>(v >> 8));
}
void PutTag(std::vector<BYTE>& f, const char* tag) { f.insert(f.end(), tag, tag + 4); }
// Writes the size of the chunk whose size field is at `at`.
void Close(std::vector<BYTE>& f, size_t at) {
  const DWORD size = static_cast<DWORD>(f.size() - at - 4);
  for (int i = 0; i < 4; ++i) f[at + i] = static_cast<BYTE>(size >> (8 * i));
}
size_t Open(std::vector<BYTE>& f, const char* tag, const char* list = nullptr) {
  PutTag(f, tag);
  const size_t at = f.size();
  Put32(f, 0);
  if (list) PutTag(f, list);
  return at;
}

// A minimal uncompressed AVI file: one video stream of YUY2 frames.
std::vector<BYTE> MakeYuy2Avi(int w, int h, const std::vector<std::vector<BYTE>>& frames) {
  const DWORD frameBytes = static_cast<DWORD>(frames[0].size());
  std::vector<BYTE> f;
  const size_t riff = Open(f, "RIFF", "AVI ");
  const size_t hdrl = Open(f, "LIST", "hdrl");
  const size_t avih = Open(f, "avih");
  Put32(f, 100000);  // microseconds per frame
  Put32(f, frameBytes * 10);
  Put32(f, 0);
  Put32(f, 0x10);  // has an index
  Put32(f, static_cast<DWORD>(frames.size()));
  Put32(f, 0);
  Put32(f, 1);
  Put32(f, frameBytes);
  Put32(f, w);
  Put32(f, h);
  for (int i = 0; i < 4; ++i) Put32(f, 0);
  Close(f, avih);
  const size_t strl = Open(f, "LIST", "strl");
  const size_t strh = Open(f, "strh");
  PutTag(f, "vids");
  PutTag(f, "YUY2");
  Put32(f, 0);
  Put32(f, 0);
  Put32(f, 0);
  Put32(f, 1);   // scale
  Put32(f, 10);  // rate
  Put32(f, 0);
  Put32(f, static_cast<DWORD>(frames.size()));
  Put32(f, frameBytes);
  Put32(f, 0xFFFFFFFF);
  Put32(f, 0);
  Put16(f, 0);
  Put16(f, 0);
  Put16(f, static_cast<WORD>(w));
  Put16(f, static_cast<WORD>(h));
  Close(f, strh);
  const size_t strf = Open(f, "strf");
  Put32(f, 40);
  Put32(f, w);
  Put32(f, h);
  Put16(f, 1);
  Put16(f, 16);
  PutTag(f, "YUY2");
  Put32(f, frameBytes);
  for (int i = 0; i < 4; ++i) Put32(f, 0);
  Close(f, strf);
  Close(f, strl);
  Close(f, hdrl);
  const size_t movi = Open(f, "LIST", "movi");
  std::vector<DWORD> offsets;
  for (const auto& frame : frames) {
    offsets.push_back(static_cast<DWORD>(f.size() - (movi + 4)));
    const size_t chunk = Open(f, "00dc");
    f.insert(f.end(), frame.begin(), frame.end());
    Close(f, chunk);
  }
  Close(f, movi);
  const size_t idx1 = Open(f, "idx1");
  for (DWORD offset : offsets) {
    PutTag(f, "00dc");
    Put32(f, 0x10);  // key frame
    Put32(f, offset);
    Put32(f, frameBytes);
  }
  Close(f, idx1);
  Close(f, riff);
  return f;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> pin;
  if (FAILED(filter->EnumPins(&pins))) return nullptr;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_DIRECTION dir;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) return pin;
  }
  return nullptr;
}

TEST(FrameGrabber, SampleGrabberDeliversConvertedFramesToTheHost) {
  const int w = 66, h = 50, count = 3;
  std::vector<std::vector<BYTE>> frames;
  for (int n = 0; n < count; ++n) {
    std::vector<BYTE> frame(Yuy2SourceBytes(w, h));
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>((i * 7 + n * 31 + i / 97) & 0xFF);
    frames.push_back(frame);
  }
  WCHAR dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring path = std::wstring(dir) + L"zelvora_grabber_" + std::to_wstring(GetCurrentProcessId()) + L".avi";
  {
    const std::vector<BYTE> avi = MakeYuy2Avi(w, h, frames);
    FILE* file = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(nullptr, file);
    fwrite(avi.data(), 1, avi.size(), file);
    fclose(file);
  }

  FrameCallback cb;
  cb.SetFrameFormat(ColorFormat::YUY2);
  cb.SetFrameSize(w, h);
  unsigned long cell = static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(&KeepPicture));
  cb.SetRenderCallback(&cell);
  g_pictures.clear();
  {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source, grabberFilter, renderer;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
    ASSERT_EQ(S_OK, graph->AddSourceFilter(path.c_str(), L"Source", &source));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter)));
    ASSERT_EQ(S_OK, grabberFilter.As(&grabber));
    AM_MEDIA_TYPE type = {};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_YUY2;
    ASSERT_EQ(S_OK, grabber->SetMediaType(&type));
    ASSERT_EQ(S_OK, grabber->SetCallback(&cb, 1));
    ASSERT_EQ(S_OK, graph->AddFilter(grabberFilter.Get(), L"Grabber"));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer)));
    ASSERT_EQ(S_OK, graph->AddFilter(renderer.Get(), L"Renderer"));
    // The graph puts the AVI splitter between the file and the grabber.
    ASSERT_EQ(S_OK, graph->Connect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(), FirstPin(grabberFilter.Get(), PINDIR_INPUT).Get()));
    ASSERT_EQ(S_OK, graph->Connect(FirstPin(grabberFilter.Get(), PINDIR_OUTPUT).Get(), FirstPin(renderer.Get(), PINDIR_INPUT).Get()));
    ASSERT_EQ(S_OK, graph.As(&control));
    ASSERT_EQ(S_OK, graph.As(&events));
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    long code = 0;
    EXPECT_EQ(S_OK, events->WaitForCompletion(10000, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    control->Stop();
    grabber->SetCallback(nullptr, 1);
  }
  DeleteFileW(path.c_str());

  ASSERT_EQ(static_cast<size_t>(count), g_pictures.size());
  std::vector<BYTE> expected(BgrPictureBytes(w, h));
  for (int n = 0; n < count; ++n) {
    ASSERT_TRUE(Yuy2ToBgr(frames[n].data(), w, h, expected.data()));
    EXPECT_EQ(expected, g_pictures[n]) << "frame " << n;
  }
}

}  // namespace
}  // namespace zelvora
