// The test picture survives a real JPEG round trip through GDI+ (as a snapshot file would).
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <vector>

#include "framepattern.h"

namespace {

bool JpegEncoder(CLSID* clsid) {
  UINT count = 0, bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
  std::vector<BYTE> buffer(bytes);
  Gdiplus::ImageCodecInfo* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i)
    if (lstrcmpiW(codecs[i].MimeType, L"image/jpeg") == 0) return *clsid = codecs[i].Clsid, true;
  return false;
}

TEST(FramePattern, SurvivesAJpegRoundTrip) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token, &input, nullptr));
  {
    const int w = 640, h = 480;
    zvpattern::Renderer renderer;
    ASSERT_TRUE(renderer.Configure(zvpattern::Layout::YUY2, w, h));
    std::vector<uint8_t> yuy2(renderer.FrameSize());
    renderer.Render(31337, yuy2.data(), yuy2.size());
    std::vector<uint8_t> bgr = zvpattern::ToBgrBottomUp(zvpattern::Layout::YUY2, yuy2.data(), yuy2.size(), w, h);
    const int stride = zvpattern::RgbRowStride(w);
    // GDI+ wants top-down rows: a negative stride from the last row.
    Gdiplus::Bitmap picture(w, h, -stride, PixelFormat24bppRGB, bgr.data() + static_cast<size_t>(h - 1) * stride);
    CLSID jpeg;
    ASSERT_TRUE(JpegEncoder(&jpeg));
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    Gdiplus::EncoderParameters params;
    ULONG quality = 40;  // a poor JPEG
    params.Count = 1;
    params.Parameter[0].Guid = Gdiplus::EncoderQuality;
    params.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
    params.Parameter[0].NumberOfValues = 1;
    params.Parameter[0].Value = &quality;
    ASSERT_EQ(Gdiplus::Ok, picture.Save(stream, &jpeg, &params));
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    {
      Gdiplus::Bitmap decoded(stream);
      ASSERT_EQ(Gdiplus::Ok, decoded.GetLastStatus());
      Gdiplus::Rect all(0, 0, w, h);
      Gdiplus::BitmapData data;
      ASSERT_EQ(Gdiplus::Ok, decoded.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &data));
      // Back to bottom-up rows.
      std::vector<uint8_t> back(static_cast<size_t>(stride) * h);
      for (int y = 0; y < h; ++y)
        memcpy(back.data() + static_cast<size_t>(h - 1 - y) * stride,
               static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride, w * 3);
      decoded.UnlockBits(&data);
      zvpattern::Decoded result = zvpattern::DecodeBgrBottomUp(back.data(), back.size(), w, h);
      EXPECT_TRUE(result.Upright());
      EXPECT_EQ(31337u, result.frameNumber);
    }
    stream->Release();
  }
  Gdiplus::GdiplusShutdown(token);
}

}  // namespace
