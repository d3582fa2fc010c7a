// Frames through Wine's own sample grabber: a small uncompressed YUY2 AVI file is played through
// the file source, the AVI splitter and a sample grabber that calls the frame callback object.
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <stdio.h>

#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/framecallback.h"
#include "media/pixel/yuvconvert.h"
#include "media/dshowids.h"

using Microsoft::WRL::ComPtr;

namespace zelvora {
namespace {

std::vector<std::vector<unsigned char>> g_pictures;

void __cdecl KeepPicture(RenderFrame* frame, int, int) {
  g_pictures.emplace_back(frame->data, frame->data ? frame->data + frame->width * frame->height * 3 : frame->data);
}

void Put(std::vector<BYTE>& f, std::initializer_list<DWORD> values, int bytes = 4) {
  for (DWORD v : values)
    for (int i = 0; i < bytes; ++i) f.push_back(static_cast<BYTE>(v >> (8 * i)));
}
void PutTag(std::vector<BYTE>& f, const char* tag) { f.insert(f.end(), tag, tag + 4); }
// Starts a chunk (and a list type); Close writes the chunk's size once its data is in.
size_t Open(std::vector<BYTE>& f, const char* tag, const char* list = nullptr) {
  PutTag(f, tag);
  const size_t at = f.size();
  Put(f, {0});
  if (list) PutTag(f, list);
  return at;
}
void Close(std::vector<BYTE>& f, size_t at) {
  const DWORD size = static_cast<DWORD>(f.size() - at - 4);
  for (int i = 0; i < 4; ++i) f[at + i] = static_cast<BYTE>(size >> (8 * i));
}

// A minimal uncompressed AVI file: one video stream of YUY2 frames at 10 per second, indexed.
std::vector<BYTE> MakeYuy2Avi(int w, int h, const std::vector<std::vector<BYTE>>& frames) {
  const DWORD size = static_cast<DWORD>(frames[0].size()), n = static_cast<DWORD>(frames.size());
  const DWORD width = static_cast<DWORD>(w), height = static_cast<DWORD>(h);
  std::vector<BYTE> f;
  const size_t riff = Open(f, "RIFF", "AVI ");
  const size_t hdrl = Open(f, "LIST", "hdrl");
  const size_t avih = Open(f, "avih");
  Put(f, {100000, size * 10, 0, 0x10 /* has index */, n, 0, 1, size, width, height, 0, 0, 0, 0});
  Close(f, avih);
  const size_t strl = Open(f, "LIST", "strl");
  const size_t strh = Open(f, "strh");
  PutTag(f, "vids");
  PutTag(f, "YUY2");
  Put(f, {0, 0, 0, 1 /* scale */, 10 /* rate */, 0, n, size, 0xFFFFFFFF, 0});
  Put(f, {0, 0, width, height}, 2);
  Close(f, strh);
  const size_t strf = Open(f, "strf");
  Put(f, {40, width, height});
  Put(f, {1, 16}, 2);
  PutTag(f, "YUY2");
  Put(f, {size, 0, 0, 0, 0});
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
    Put(f, {0x10 /* key frame */, offset, size});
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
  CallbackCell cell = reinterpret_cast<CallbackCell>(&KeepPicture);
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
