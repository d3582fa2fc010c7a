// Capture format lists and the choice of the preview format, on fake capture devices reached
// through the platform's capture graph builder.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "capture/camcapturegraphy.h"
#include "capture/formatchoice.h"
#include "com_fakes.h"

using Microsoft::WRL::ComPtr;
using namespace fakes;

namespace zelvora {

class CaptureFormatTestAccess {
 public:
  explicit CaptureFormatTestAccess(CaptureGraph& graph) : g(graph) {}
  void SetCamera(IBaseFilter* filter) { g.m_pVideoCapture = filter; }
  HRESULT Find(IAMStreamConfig** config) { return g.FindCaptureStreamConfig(config); }
  HRESULT Select(IAMStreamConfig* config) { return g.SelectCaptureFormat(config); }
  HRESULT Apply(int index, IAMStreamConfig* config) { return g.ApplyCaptureFormat(index, config); }
  int& ColorFormatCode() { return g.m_nColorFormat; }
  CaptureGraph& g;
};

namespace {

const GUID kI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kMjpg = {0x47504a4d, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// A capture graph object whose camera is a fake capture filter.
class FormatTest : public testing::Test {
 protected:
  FakeCapturePin* Camera(std::vector<Capability> caps) {
    filter.Attach(new FakeCaptureFilter(CLSID_NULL, PIN_CATEGORY_CAPTURE, std::move(caps)));
    access.SetCamera(filter.Get());
    return filter->Pin();
  }
  HRESULT Formats(std::wstring* text) {
    WCHAR buffer[512] = {};
    lstrcpyW(buffer, text->c_str());
    HRESULT hr = graph.EnumSupportFormat(buffer);
    *text = buffer;
    return hr;
  }
  HRESULT Sizes(const WCHAR* format, std::wstring* text) {
    WCHAR buffer[512] = {};
    lstrcpyW(buffer, text->c_str());
    HRESULT hr = graph.EnumSupportXy(format, buffer);
    *text = buffer;
    return hr;
  }
  static void ExpectAllGivenBack(FakeCapturePin* config) {
    EXPECT_EQ(config->handedOut, config->records.releases);
  }

  CaptureGraph graph;
  CaptureFormatTestAccess access{graph};
  ComPtr<FakeCaptureFilter> filter;
};

// ---- EnumSupportFormat ----

TEST_F(FormatTest, FormatNamesInOrderOfFirstAppearanceEachOnce) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_YUY2, 320, 240}, {kMjpg, 640, 480}});
  std::wstring text;
  EXPECT_EQ(S_OK, Formats(&text));
  EXPECT_EQ(L"YUY2;Unknown;", text);
  EXPECT_EQ(3, pin->handedOut);
  ExpectAllGivenBack(pin);

  pin->capabilities = {{kI420, 640, 480}, {MEDIASUBTYPE_RGB24, 640, 480}, {kI420, 320, 240}};
  text.clear();
  EXPECT_EQ(S_OK, Formats(&text));
  EXPECT_EQ(L"I420;RGB24;", text);
}

TEST_F(FormatTest, FormatNamesAlreadyInTheBufferAreNotRepeated) {
  Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_RGB24, 640, 480}});
  std::wstring text = L"xYUY2x";
  EXPECT_EQ(S_OK, Formats(&text));
  EXPECT_EQ(L"xYUY2xRGB24;", text);
  EXPECT_EQ(S_OK, Formats(&text));  // a second call adds nothing
  EXPECT_EQ(L"xYUY2xRGB24;", text);
}

TEST_F(FormatTest, OnlyVideoInfoCapabilitiesAreListed) {
  Camera({{MEDIASUBTYPE_YUY2, 640, 480, FORMAT_VideoInfo2}, {kMjpg, 640, 480, FORMAT_VideoInfo2},
          {MEDIASUBTYPE_RGB24, 320, 240}});
  std::wstring text;
  EXPECT_EQ(S_OK, Formats(&text));
  EXPECT_EQ(L"RGB24;", text);
  std::wstring sizes;
  EXPECT_EQ(S_OK, Sizes(L"YUY2", &sizes));
  EXPECT_EQ(L"", sizes);
}

TEST_F(FormatTest, AFailingCapabilityEndsTheListQuietly) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_RGB24, 640, 480}, {kI420, 640, 480}});
  pin->failAt = 1;
  std::wstring text;
  EXPECT_EQ(S_OK, Formats(&text));
  EXPECT_EQ(L"YUY2;", text);
  std::wstring sizes;
  EXPECT_EQ(S_OK, Sizes(L"YUY2", &sizes));
  EXPECT_EQ(L"640*480;", sizes);
  EXPECT_EQ(2, pin->handedOut);
  ExpectAllGivenBack(pin);
}

TEST_F(FormatTest, ALargerAnnouncedCapabilityRecordIsReadSafely) {
  // The source writes the whole record it announces into the buffer it is given.
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_YUY2, 320, 240}});
  pin->capsSize = 4096;
  std::wstring sizes;
  EXPECT_EQ(S_OK, Sizes(L"YUY2", &sizes));
  EXPECT_EQ(L"640*480;320*240;", sizes);
  graph.SetCaptureXY(320, 240);
  EXPECT_EQ(S_OK, access.Select(pin));
  EXPECT_EQ(1, pin->setFormatCalls);
}

TEST_F(FormatTest, ListsNeedACameraAndABuffer) {
  WCHAR buffer[32] = L"keep";
  EXPECT_EQ(E_POINTER, graph.EnumSupportFormat(buffer));
  EXPECT_EQ(E_POINTER, graph.EnumSupportXy(L"YUY2", buffer));
  EXPECT_STREQ(L"keep", buffer);

  Camera({{MEDIASUBTYPE_YUY2, 640, 480}});
  EXPECT_EQ(E_POINTER, graph.EnumSupportFormat(nullptr));
  EXPECT_EQ(E_POINTER, graph.EnumSupportXy(nullptr, buffer));
  EXPECT_EQ(E_POINTER, graph.EnumSupportXy(L"YUY2", nullptr));
  EXPECT_STREQ(L"keep", buffer);
}

TEST_F(FormatTest, StreamConfigurationFailuresAreReturned) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}});
  pin->countResult = E_UNEXPECTED;
  std::wstring text;
  EXPECT_EQ(E_UNEXPECTED, Formats(&text));
  // The count is asked before the format name is checked.
  EXPECT_EQ(E_UNEXPECTED, Sizes(L"bogus", &text));
  EXPECT_EQ(L"", text);

  // A capture pin without a stream configuration: both searches fail.
  pin->countResult = S_OK;
  pin->offerStreamConfig = false;
  ComPtr<IAMStreamConfig> config;
  HRESULT hr = access.Find(&config);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(nullptr, config.Get());
  EXPECT_EQ(hr, Formats(&text));
  EXPECT_EQ(hr, Sizes(L"YUY2", &text));
}

TEST_F(FormatTest, StreamConfigurationIsTheCapturePinsOwn) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}});
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, access.Find(&config));
  EXPECT_EQ(static_cast<IAMStreamConfig*>(pin), config.Get());

  // A preview pin is not a capture pin.
  filter.Attach(new FakeCaptureFilter(CLSID_NULL, PIN_CATEGORY_PREVIEW, {{MEDIASUBTYPE_YUY2, 640, 480}}));
  access.SetCamera(filter.Get());
  EXPECT_TRUE(FAILED(access.Find(config.ReleaseAndGetAddressOf())));
}

// ---- EnumSupportXy ----

TEST_F(FormatTest, SizesOfTheNamedFormatInAnyLetterCase) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480},
                                {MEDIASUBTYPE_RGB24, 1280, 720},
                                {MEDIASUBTYPE_YUY2, 320, 240},
                                {kMjpg, 800, 600}});
  std::wstring text = L"A;";
  EXPECT_EQ(S_OK, Sizes(L"yuy2", &text));
  EXPECT_EQ(L"A;640*480;320*240;", text);
  text.clear();
  EXPECT_EQ(S_OK, Sizes(L"Rgb24", &text));
  EXPECT_EQ(L"1280*720;", text);
  text.clear();
  EXPECT_EQ(S_OK, Sizes(L"I420", &text));
  EXPECT_EQ(L"", text);
  ExpectAllGivenBack(pin);
}

TEST_F(FormatTest, SizesOfferedTwiceAreListedTwice) {
  Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_YUY2, 640, 480}});
  std::wstring text;
  EXPECT_EQ(S_OK, Sizes(L"YUY2", &text));
  EXPECT_EQ(L"640*480;640*480;", text);
}

TEST_F(FormatTest, SizeIsTheLargestWidthAndTheSmallestHeight) {
  Capability range{MEDIASUBTYPE_YUY2, 640, 120};
  range.minWidth = 160;
  range.maxHeight = 480;
  Camera({range});
  std::wstring text;
  EXPECT_EQ(S_OK, Sizes(L"YUY2", &text));
  EXPECT_EQ(L"640*120;", text);
  // The choice matches the same pair.
  graph.SetCaptureXY(640, 120);
  EXPECT_EQ(S_OK, access.Select(filter->Pin()));
  graph.SetCaptureXY(640, 480);
  EXPECT_EQ(kNoCaptureFormatOfSize, access.Select(filter->Pin()));
}

TEST_F(FormatTest, OtherFormatNamesFailAndLeaveTheBufferAlone) {
  Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {kMjpg, 640, 480}});
  for (const WCHAR* name : {L"Unknown", L"MJPG", L"", L"YUY2;", L"RGB", L"I4200"}) {
    std::wstring text = L"before";
    EXPECT_EQ(E_FAIL, Sizes(name, &text)) << name;
    EXPECT_EQ(L"before", text) << name;
  }
}

// ---- SelectCaptureFormat and ApplyCaptureFormat ----

TEST_F(FormatTest, RGB24IsPreferredAtTheRequestedSize) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {kI420, 640, 480}, {MEDIASUBTYPE_RGB24, 640, 480}});
  access.ColorFormatCode() = -1;
  EXPECT_EQ(S_OK, access.Select(pin));
  EXPECT_EQ(ColorFormat::RGB24, access.ColorFormatCode());
  EXPECT_EQ(1, pin->setFormatCalls);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, pin->applied.subtype));
  ExpectAllGivenBack(pin);
}

TEST_F(FormatTest, CodesSevenAndEight) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480, FORMAT_VideoInfo2}, {kMjpg, 640, 480}});
  access.ColorFormatCode() = 42;
  EXPECT_EQ(kNoKnownCaptureFormat, access.Select(pin));
  pin->capabilities.clear();
  EXPECT_EQ(kNoKnownCaptureFormat, access.Select(pin));

  pin->capabilities = {{MEDIASUBTYPE_YUY2, 320, 240}, {MEDIASUBTYPE_RGB24, 1280, 720}};
  EXPECT_EQ(kNoCaptureFormatOfSize, access.Select(pin));
  EXPECT_EQ(0, pin->setFormatCalls);
  EXPECT_EQ(42, access.ColorFormatCode());
  EXPECT_TRUE(SUCCEEDED(kNoKnownCaptureFormat) && SUCCEEDED(kNoCaptureFormatOfSize));
  ExpectAllGivenBack(pin);
}

TEST_F(FormatTest, SelectionDecidesFromTheCapabilitiesReadBeforeAFailure) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {kMjpg, 640, 480}, {MEDIASUBTYPE_RGB24, 640, 480}});
  pin->failAt = 1;
  EXPECT_EQ(S_OK, access.Select(pin));
  EXPECT_EQ(ColorFormat::YUY2, access.ColorFormatCode());
}

TEST_F(FormatTest, SelectionFailuresAreReturned) {
  EXPECT_EQ(E_POINTER, access.Select(nullptr));
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_RGB24, 640, 480}});
  pin->countResult = E_UNEXPECTED;
  EXPECT_EQ(E_UNEXPECTED, access.Select(pin));

  // A refused format: the failure comes back, the pixel format is already set.
  pin->countResult = S_OK;
  pin->setFormatResult = VFW_E_WRONG_STATE;
  access.ColorFormatCode() = ColorFormat::YUY2;
  EXPECT_EQ(VFW_E_WRONG_STATE, access.Select(pin));
  EXPECT_EQ(ColorFormat::RGB24, access.ColorFormatCode());
  ExpectAllGivenBack(pin);
}

TEST_F(FormatTest, AppliedTypeCarriesTheRequestedSizeAndThreeBytesAPixel) {
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_YUY2, 642, 480}});
  EXPECT_EQ(S_OK, access.Select(pin));
  EXPECT_EQ(640 * 480 * 3u, pin->appliedHeader.bmiHeader.biSizeImage);
  EXPECT_EQ(640 * 480 * 3u, pin->applied.lSampleSize);
  EXPECT_EQ(640, pin->appliedHeader.bmiHeader.biWidth);
  EXPECT_EQ(480, pin->appliedHeader.bmiHeader.biHeight);
  // Everything else is the capability's.
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, pin->applied.subtype));
  EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, pin->applied.formattype));
  EXPECT_EQ(333333, pin->appliedHeader.AvgTimePerFrame);
  EXPECT_EQ(16, pin->appliedHeader.bmiHeader.biBitCount);
  EXPECT_EQ(MEDIASUBTYPE_YUY2.Data1, pin->appliedHeader.bmiHeader.biCompression);
  EXPECT_EQ(640, pin->appliedHeader.rcSource.right);

  graph.SetCaptureXY(642, 480);
  EXPECT_EQ(S_OK, access.Select(pin));
  EXPECT_EQ(644 * 480 * 3u, pin->appliedHeader.bmiHeader.biSizeImage);
  EXPECT_EQ(644 * 480 * 3u, pin->applied.lSampleSize);
  EXPECT_EQ(642, pin->appliedHeader.bmiHeader.biWidth);
  ExpectAllGivenBack(pin);
}

TEST_F(FormatTest, ApplyRefusesWhatItCannotWriteSafely) {
  Capability shortBlock{MEDIASUBTYPE_YUY2, 640, 480};
  shortBlock.formatBytes = sizeof(VIDEOINFOHEADER) - 4;
  FakeCapturePin* pin = Camera({{MEDIASUBTYPE_YUY2, 640, 480}, shortBlock,
                                {MEDIASUBTYPE_YUY2, 640, 480, FORMAT_VideoInfo2}});
  EXPECT_EQ(E_POINTER, access.Apply(-1, pin));
  EXPECT_EQ(E_POINTER, access.Apply(0, nullptr));
  EXPECT_EQ(E_INVALIDARG, access.Apply(3, pin));  // no such capability
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, access.Apply(1, pin));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, access.Apply(2, pin));
  pin->failAt = 0;
  EXPECT_EQ(E_FAIL, access.Apply(0, pin));
  EXPECT_EQ(0, pin->setFormatCalls);

  // An image size beyond 32 bits is not wrapped round.
  pin->failAt = -1;
  pin->capabilities = {{MEDIASUBTYPE_YUY2, 3000, 1000000}};
  graph.SetCaptureXY(3000, 1000000);
  EXPECT_EQ(E_INVALIDARG, access.Select(pin));
  EXPECT_EQ(0, pin->setFormatCalls);
  ExpectAllGivenBack(pin);
}

}  // namespace
}  // namespace zelvora
