// The frame layout read from the sample grabber's connection media type.
#include <windows.h>
#include <strmif.h>
#include <uuids.h>

#include <vector>

#include <gtest/gtest.h>

#include "capture/colorconverter.h"
#include "capture/frameformat.h"
#include "media/pixel/colorformat.h"
#include "media/dshowids.h"

#include <amvideo.h>
#include <dvdmedia.h>

namespace zelvora {
namespace {

// A connection media type with a VIDEOINFOHEADER or VIDEOINFOHEADER2 block.
struct Connection {
  Connection(const GUID& subtype, const GUID& formatType, LONG width, LONG height) {
    const bool info2 = IsEqualGUID(formatType, FORMAT_VideoInfo2) != FALSE;
    block.assign(info2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER), 0);
    BITMAPINFOHEADER* header = info2 ? &reinterpret_cast<VIDEOINFOHEADER2*>(block.data())->bmiHeader
                                     : &reinterpret_cast<VIDEOINFOHEADER*>(block.data())->bmiHeader;
    header->biWidth = width;
    header->biHeight = height;
    type.majortype = MEDIATYPE_Video;
    type.subtype = subtype;
    type.formattype = formatType;
    type.cbFormat = static_cast<ULONG>(block.size());
    type.pbFormat = block.data();
  }
  AM_MEDIA_TYPE type = {};
  std::vector<BYTE> block;
};

TEST(FrameFormatOfConnection, TakesFormatAndSizeFromEitherHeader) {
  struct {
    GUID subtype, formatType;
    LONG width, height;
    int format, expectedHeight;
  } cases[] = {{MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240, ColorFormat::YUY2, 240},
               {MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 320, -240, ColorFormat::YUY2, 240},  // YUV: rows top-down anyway
               {kMediaSubtypeI420, FORMAT_VideoInfo, 176, -144, ColorFormat::I420, 144},
               {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, 642, 480, ColorFormat::RGB24, 480},
               {MEDIASUBTYPE_NV12, FORMAT_VideoInfo, 1280, 720, ColorFormat::NV12, 720},
               {MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, 1920, 1080, ColorFormat::MJPG, 1080}};
  for (const auto& c : cases) {
    Connection connection(c.subtype, c.formatType, c.width, c.height);
    FrameFormat format;
    ASSERT_TRUE(FrameFormatOfConnection(connection.type, &format)) << c.width << "x" << c.height;
    EXPECT_EQ(c.format, format.colorFormat);
    EXPECT_EQ(c.width, format.width);
    EXPECT_EQ(c.expectedHeight, format.height);
  }
}

TEST(FrameFormatOfConnection, RefusesTypesWhoseFramesCannotBeRead) {
  const GUID iyuv = {0x56555949, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
  std::vector<Connection> refused;
  refused.reserve(16);  // the types point into their own blocks: no copies
  refused.emplace_back(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 320, -240);  // top-down RGB24
  refused.emplace_back(iyuv, FORMAT_VideoInfo, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_VideoInfo, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, 100000, 100000);  // a picture past 2 GB
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_None, 320, 240);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 0, 240);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, -320, 240);
  refused.emplace_back(kMediaSubtypeI420, FORMAT_VideoInfo, 320, 0);
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, LONG(0x80000000));
  refused.emplace_back(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 100000, 100000);  // past 2 GB
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240);
  refused.back().type.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 320, 240);
  refused.back().type.cbFormat = sizeof(VIDEOINFOHEADER);  // too short for a VIDEOINFOHEADER2
  refused.emplace_back(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 320, 240);
  refused.back().type.pbFormat = nullptr;
  for (size_t i = 0; i < refused.size(); ++i) {
    FrameFormat format;
    format.colorFormat = format.width = format.height = 9;
    EXPECT_FALSE(FrameFormatOfConnection(refused[i].type, &format)) << "case " << i;
    EXPECT_TRUE(format.colorFormat == 9 && format.width == 9 && format.height == 9) << "case " << i;
  }
}

// The type the colour converter is asked for before the writer: I420 of the camera's size and
// frame interval, whichever header the camera's type has and whichever way up it is.
TEST(I420TypeOfConnection, KeepsSizeAndIntervalAndRefusesSizesWithoutALayout) {
  Connection nv12(MEDIASUBTYPE_NV12, FORMAT_VideoInfo2, 640, -480);
  reinterpret_cast<VIDEOINFOHEADER2*>(nv12.block.data())->AvgTimePerFrame = 333333;
  AM_MEDIA_TYPE type;
  VIDEOINFOHEADER format;
  ASSERT_EQ(S_OK, I420TypeOf(nv12.type, &type, &format));
  EXPECT_TRUE(IsEqualGUID(kMediaSubtypeI420, type.subtype));
  EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, type.formattype));
  EXPECT_EQ(reinterpret_cast<BYTE*>(&format), type.pbFormat);
  EXPECT_EQ(640, format.bmiHeader.biWidth);
  EXPECT_EQ(480, format.bmiHeader.biHeight);
  EXPECT_EQ(12, format.bmiHeader.biBitCount);
  EXPECT_EQ(640u * 480 * 3 / 2, format.bmiHeader.biSizeImage);
  EXPECT_EQ(format.bmiHeader.biSizeImage, type.lSampleSize);
  EXPECT_EQ(333333, format.AvgTimePerFrame);

  for (const Connection& bad : {Connection(MEDIASUBTYPE_NV12, FORMAT_VideoInfo, 641, 480),
                                Connection(MEDIASUBTYPE_NV12, FORMAT_VideoInfo, 640, 0),
                                Connection(MEDIASUBTYPE_NV12, FORMAT_VideoInfo, 40000, 2),
                                Connection(MEDIASUBTYPE_NV12, FORMAT_WaveFormatEx, 640, 480)})
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, I420TypeOf(bad.type, &type, &format));
  EXPECT_EQ(E_POINTER, I420TypeOf(nv12.type, nullptr, &format));
}

}  // namespace
}  // namespace zelvora
