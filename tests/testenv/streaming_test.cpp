// Live streaming of the virtual cameras in hand-built graphs: frames in the layout and size of
// the format, in order, stamped on the graph clock; Smart Tee and two-pin previews; state
// changes; fault injection.
#include "devtest.h"
#include "jpegtest.h"

#include <amvideo.h>

namespace {

using namespace devtest;

// Applies capability `index` of the capture pin.
void ApplyCapability(IBaseFilter* camera, int index, VideoFormat* format) {
  ComPtr<IAMStreamConfig> config = StreamConfig(camera, PIN_CATEGORY_CAPTURE);
  ASSERT_TRUE(config);
  AM_MEDIA_TYPE* mt = CapabilityType(config.Get(), index);
  ASSERT_TRUE(mt);
  *format = Describe(mt);
  EXPECT_EQ(S_OK, config->SetFormat(mt));
  FreeMediaType(mt);
}

void ExpectOrderedFrames(const std::vector<SampleCollector::Sample>& samples, LONG length, REFERENCE_TIME interval) {
  ASSERT_FALSE(samples.empty());
  for (size_t i = 0; i < samples.size(); ++i) {
    const SampleCollector::Sample& s = samples[i];
    EXPECT_EQ(length, s.length) << "sample " << i;
    ASSERT_TRUE(s.decoded.valid) << "sample " << i;
    EXPECT_TRUE(s.decoded.Upright());
    EXPECT_EQ(i, s.decoded.frameNumber) << "frames arrive in order, none lost";
    ASSERT_TRUE(s.timed);
    EXPECT_EQ(s.start + interval, s.stop);
    if (i > 0) {
      EXPECT_GT(s.start, samples[i - 1].start);
      EXPECT_EQ(0, (s.start - samples[0].start) % interval) << "slots of the frame interval";
    }
  }
}

TEST(CameraStreaming, EverySubtypeReachesAGrabberInItsLayoutAndOrder) {
  struct Case {
    int capability;
    zvpattern::Layout layout;
  } cases[] = {{0, zvpattern::Layout::RGB24}, {1, zvpattern::Layout::YUY2}, {2, zvpattern::Layout::I420},
               {4, zvpattern::Layout::YUY2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capability);
    ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
    VideoFormat format;
    ApplyCapability(camera.Get(), c.capability, &format);
    SampleCollector collector;
    collector.Expect(c.layout, format.width, format.height);
    Graph graph;
    ASSERT_EQ(S_OK, graph.Create(camera.Get()));
    ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, format.subtype, &collector));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(WaitUntil([&] { return collector.Count() >= 8; }, 5000));
    graph.Stop();
    ExpectOrderedFrames(collector.Samples(), static_cast<LONG>(format.sizeImage), format.interval);
    ZvdPinStats stats;
    ASSERT_EQ(S_OK, Control(camera.Get())->GetPinStats(PIN_CATEGORY_CAPTURE, &stats));
    EXPECT_EQ(collector.Count(), stats.samplesDelivered);
    EXPECT_EQ(0u, stats.receiveFailures);
    EXPECT_EQ(0u, stats.streaming) << "the streaming thread ends with Stop";
  }
}

TEST(CameraStreaming, SmartTeePreviewAndSeparatePreviewPin) {
  // Capture pin only: the builder inserts a Smart Tee for the preview.
  {
    ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
    VideoFormat format;
    ApplyCapability(camera.Get(), 1, &format);  // YUY2 320x240
    SampleCollector collector;
    collector.Expect(zvpattern::Layout::YUY2, 320, 240);
    Graph graph;
    ASSERT_EQ(S_OK, graph.Create(camera.Get()));
    EXPECT_EQ(VFW_S_NOPREVIEWPIN,
              graph.AddGrabberBranch(PIN_CATEGORY_PREVIEW, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, &collector));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(WaitUntil([&] { return collector.Count() >= 5; }, 5000));
    graph.Stop();
    std::vector<SampleCollector::Sample> samples = collector.Samples();
    ASSERT_GE(samples.size(), 5u);
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(320 * 240 * 2, samples[i].length);
      EXPECT_TRUE(samples[i].decoded.Upright());
      EXPECT_EQ(i, samples[i].decoded.frameNumber);
    }
  }
  // Separate preview pin: both branches connect directly and both deliver.
  {
    ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_PREVIEW);
    SampleCollector capture, preview;
    capture.Expect(zvpattern::Layout::YUY2, 640, 480);
    preview.Expect(zvpattern::Layout::YUY2, 640, 480);
    Graph graph;
    ASSERT_EQ(S_OK, graph.Create(camera.Get()));
    ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_PREVIEW, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, &preview));
    ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, &capture));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(WaitUntil([&] { return capture.Count() >= 4 && preview.Count() >= 4; }, 5000));
    graph.Stop();
    ExpectOrderedFrames(capture.Samples(), 640 * 480 * 2, 333333);
    ExpectOrderedFrames(preview.Samples(), 640 * 480 * 2, 333333);
    ZvdPinStats stats;
    ASSERT_EQ(S_OK, Control(camera.Get())->GetPinStats(PIN_CATEGORY_PREVIEW, &stats));
    EXPECT_EQ(1u, stats.connected);
    EXPECT_EQ(E_INVALIDARG, Control(camera.Get())->GetPinStats(PIN_CATEGORY_VBI, &stats));
  }
}

TEST(CameraStreaming, PauseHoldsFramesAndRunRestartsTheSchedule) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  VideoFormat format;
  ApplyCapability(camera.Get(), 0, &format);
  SampleCollector collector;
  collector.Expect(zvpattern::Layout::RGB24, 320, 240);
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, &collector));

  // A live source cannot cue: paused, it delivers nothing and says so.
  EXPECT_EQ(VFW_S_CANT_CUE, camera->Pause());
  FILTER_STATE state;
  EXPECT_EQ(VFW_S_CANT_CUE, camera->GetState(0, &state));
  EXPECT_EQ(State_Paused, state);
  camera->Stop();
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 3; }, 5000));
  ASSERT_TRUE(SUCCEEDED(graph.control->Pause()));
  Sleep(50);
  size_t held = collector.Count();
  Sleep(300);
  EXPECT_EQ(held, collector.Count()) << "no frames while paused";
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= held + 3; }, 5000));
  graph.Stop();
  std::vector<SampleCollector::Sample> samples = collector.Samples();
  for (size_t i = 1; i < samples.size(); ++i) {
    EXPECT_EQ(i, samples[i].decoded.frameNumber) << "numbers go on across a pause";
    EXPECT_GT(samples[i].start, samples[i - 1].start) << "stream time goes on across a pause";
  }

  // After Stop, a new run starts from frame 0 at the start of stream time.
  collector.Clear();
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 2; }, 5000));
  graph.Stop();
  samples = collector.Samples();
  EXPECT_EQ(0u, samples[0].decoded.frameNumber);
  EXPECT_LT(samples[0].start, 2 * 333333) << "time stamps restart with the run";
}

TEST(CameraFaults, DeviceLostReachesTheApplicationAndStopsDelivery) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IZelvoraDeviceControl> control = Control(camera.Get());
  EXPECT_EQ(VFW_E_NOT_IN_GRAPH, control->SignalDeviceLost(FALSE)) << "nothing to tell outside a graph";
  VideoFormat format;
  ApplyCapability(camera.Get(), 0, &format);
  SampleCollector collector;
  collector.Expect(zvpattern::Layout::RGB24, 320, 240);
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, &collector));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 2; }, 5000));

  ASSERT_EQ(S_OK, control->SignalDeviceLost(FALSE));
  LONG_PTR p1 = 0, p2 = -1;
  ASSERT_TRUE(graph.WaitEvent(EC_DEVICE_LOST, 2000, &p1, &p2));
  ComPtr<IUnknown> identity;
  camera.As(&identity);
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(identity.Get()), p1);
  EXPECT_EQ(0, p2);
  Sleep(80);
  size_t held = collector.Count();
  Sleep(250);
  EXPECT_EQ(held, collector.Count()) << "a removed device delivers nothing";

  ASSERT_EQ(S_OK, control->SignalDeviceLost(TRUE));
  ASSERT_TRUE(graph.WaitEvent(EC_DEVICE_LOST, 2000, &p1, &p2));
  EXPECT_EQ(1, p2);
  EXPECT_TRUE(WaitUntil([&] { return collector.Count() >= held + 2; }, 5000)) << "delivery resumes";
  graph.Stop();
}

TEST(CameraFaults, StopDeliveringAndOneShortBuffer) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IZelvoraDeviceControl> control = Control(camera.Get());
  VideoFormat format;
  ApplyCapability(camera.Get(), 1, &format);  // YUY2 320x240
  SampleCollector collector;
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, &collector));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 2; }, 5000));

  long code;
  LONG_PTR a, b;
  while (graph.events->GetEvent(&code, &a, &b, 0) == S_OK) graph.events->FreeEventParams(code, a, b);
  ASSERT_EQ(S_OK, control->SetDelivering(FALSE));
  Sleep(80);
  size_t held = collector.Count();
  Sleep(250);
  EXPECT_EQ(held, collector.Count());
  HRESULT hr = graph.events->GetEvent(&code, &a, &b, 0);
  EXPECT_EQ(E_ABORT, hr) << "stalling sends no event; got 0x" << std::hex << code;
  if (hr == S_OK) graph.events->FreeEventParams(code, a, b);

  ASSERT_EQ(S_OK, control->DeliverShortBuffer(1000));
  ASSERT_EQ(S_OK, control->SetDelivering(TRUE));
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= held + 3; }, 5000));
  graph.Stop();
  std::vector<SampleCollector::Sample> samples = collector.Samples();
  int shortOnes = 0;
  for (size_t i = held; i < samples.size(); ++i) {
    if (samples[i].length != 320 * 240 * 2) {
      ++shortOnes;
      EXPECT_EQ(1000, samples[i].length);
      EXPECT_EQ(held, i) << "the next sample is the short one";
    }
  }
  EXPECT_EQ(1, shortOnes);
  ZvdPinStats stats;
  ASSERT_EQ(S_OK, control->GetPinStats(PIN_CATEGORY_CAPTURE, &stats));
  EXPECT_EQ(1u, stats.shortBuffers);
}

}  // namespace

namespace {

using namespace devtest;

TEST(CameraStreaming, WithoutAGraphClockFramesStillFlowUnstamped) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  VideoFormat format;
  ApplyCapability(camera.Get(), 0, &format);
  SampleCollector collector;
  collector.Expect(zvpattern::Layout::RGB24, 320, 240);
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, &collector));
  ComPtr<IMediaFilter> graphFilter;
  ASSERT_EQ(S_OK, graph.graph.As(&graphFilter));
  ASSERT_EQ(S_OK, graphFilter->SetSyncSource(nullptr));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  DWORD start = GetTickCount();
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 6; }, 5000));
  DWORD elapsed = GetTickCount() - start;
  graph.Stop();
  for (const SampleCollector::Sample& s : collector.Samples()) {
    EXPECT_FALSE(s.timed);
    EXPECT_TRUE(s.decoded.Upright());
  }
  EXPECT_GE(elapsed, 120u) << "still paced at the frame rate (6 frames at 30/s)";
}

TEST(CameraFormats, SetFormatWhileConnectedReconnectsThroughTheGraph) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  VideoFormat format;
  ApplyCapability(camera.Get(), 1, &format);  // YUY2 320x240
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ComPtr<IBaseFilter> renderer;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(renderer.GetAddressOf())));
  ASSERT_EQ(S_OK, graph.graph->AddFilter(renderer.Get(), L"Null"));
  ComPtr<IPin> pin = FindPin(camera.Get(), &PIN_CATEGORY_CAPTURE);
  ComPtr<IPin> input = FindPin(renderer.Get(), nullptr, PINDIR_INPUT);
  ASSERT_EQ(S_OK, graph.graph->ConnectDirect(pin.Get(), input.Get(), nullptr));
  ComPtr<IAMStreamConfig> config = StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE);
  AM_MEDIA_TYPE* larger = CapabilityType(config.Get(), 4);  // YUY2 640x480
  EXPECT_EQ(S_OK, config->SetFormat(larger));
  AM_MEDIA_TYPE connected;
  ASSERT_EQ(S_OK, pin->ConnectionMediaType(&connected));
  EXPECT_EQ(640, Describe(&connected).width);
  CoTaskMemFree(connected.pbFormat);
  // Running: refused; the new format streams.
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ZvdPinStats stats;
  ASSERT_TRUE(WaitUntil([&] {
    Control(camera.Get())->GetPinStats(PIN_CATEGORY_CAPTURE, &stats);
    return stats.samplesDelivered >= 2;
  }, 5000));
  EXPECT_EQ(VFW_E_NOT_STOPPED, config->SetFormat(larger));
  graph.Stop();
  FreeMediaType(larger);
}

TEST(CameraFormats, SetFormatWhileConnectedKeepsAConnectionThePeerRefusesToChange) {
  // Wine's sample grabber does not accept a new type once connected.
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  VideoFormat format;
  ApplyCapability(camera.Get(), 1, &format);
  SampleCollector collector;
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, &collector));
  ComPtr<IAMStreamConfig> config = StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE);
  ComPtr<IPin> pin = FindPin(camera.Get(), &PIN_CATEGORY_CAPTURE);
  ComPtr<IPin> peer;
  ASSERT_EQ(S_OK, pin->ConnectedTo(&peer));
  AM_MEDIA_TYPE* other = CapabilityType(config.Get(), 4);
  HRESULT expected = peer->QueryAccept(other) == S_OK ? S_OK : VFW_E_INVALIDMEDIATYPE;
  EXPECT_EQ(expected, config->SetFormat(other));
  AM_MEDIA_TYPE connected;
  ASSERT_EQ(S_OK, pin->ConnectionMediaType(&connected));
  EXPECT_EQ(expected == S_OK ? 640 : 320, Describe(&connected).width);
  CoTaskMemFree(connected.pbFormat);
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(S_OK, config->GetFormat(&current));
  EXPECT_EQ(expected == S_OK ? 640 : 320, Describe(current).width);
  FreeMediaType(current);
  FreeMediaType(other);
}

TEST(CameraFormats, LoadOnlyWhileUnconnectedAndStopped) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IPersistPropertyBag> persist;
  ASSERT_EQ(S_OK, camera.As(&persist));
  EXPECT_EQ(E_POINTER, persist->Load(nullptr, nullptr));
  SampleCollector collector;
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(camera.Get()));
  ASSERT_TRUE(SUCCEEDED(graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, GUID_NULL, &collector)));
  // Reload the instance's bag into the connected filter: refused, the pins stay.
  for (const DeviceInfo& device : ListDevices(CLSID_VideoInputDeviceCategory)) {
    if (device.friendlyName != ZVD_CAMERA_PREVIEW) continue;
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(S_OK, device.moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf())));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, persist->Load(bag.Get(), nullptr));
  }
  EXPECT_FALSE(FindPin(camera.Get(), &PIN_CATEGORY_PREVIEW));
}

// ---- Today's camera formats: NV12, MJPG as JPEG, twin cameras, frame rates ------------------

// Streams the capture pin's current format until `count` samples reached the collector.
std::vector<SampleCollector::Sample> StreamSamples(IBaseFilter* camera, const GUID& subtype, SampleCollector* collector,
                                                   size_t count) {
  Graph graph;
  EXPECT_EQ(S_OK, graph.Create(camera));
  EXPECT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, subtype, collector));
  EXPECT_TRUE(SUCCEEDED(graph.Run()));
  EXPECT_TRUE(WaitUntil([&] { return collector->Count() >= count; }, 10000));
  graph.Stop();
  return collector->Samples();
}

TEST(CameraStreaming, MjpgFramesAreJpegPicturesWithOrWithoutTablesAndPadding) {
  // The MJPG camera at 1280x720 (samples as long as the JPEG), and a webcam without DHT that
  // pads its samples to biSizeImage and starts at frame 40000.
  ScopedCamera webcam(L"ZelvoraDev81 Webcam", L"Zelvora Plain Webcam", L"MJPG 320x240@30", L"nodht jpegpad first:40000");
  ASSERT_EQ(S_OK, webcam.result);
  zvjpeg::PatternEncoder reference;  // the standard tables, as a decoder supplies them
  ASSERT_TRUE(reference.Configure(320, 240, true));
  std::vector<uint8_t> tables(reference.FrameBound());
  tables.resize(reference.Render(0, tables.data(), tables.size()));
  const jpegtest::Segment dht = jpegtest::Segments(tables.data(), tables.size()).at(3);
  for (bool plain : {false, true}) {
    ComPtr<IBaseFilter> camera = BindCamera(plain ? L"Zelvora Plain Webcam" : ZVD_CAMERA_MJPG);
    VideoFormat format;
    ApplyCapability(camera.Get(), plain ? 0 : 4, &format);
    SampleCollector collector;
    collector.KeepAll(true);
    std::vector<SampleCollector::Sample> samples = StreamSamples(camera.Get(), MEDIASUBTYPE_MJPG, &collector, 3);
    ASSERT_GE(samples.size(), 3u);
    for (size_t i = 0; i < samples.size(); ++i) {
      std::vector<BYTE> data = samples[i].data;
      size_t end = data.size();
      while (end > 2 && data[end - 1] == 0) --end;
      EXPECT_EQ(0xD9, data[end - 1]) << "EOI, then only zeros";
      EXPECT_EQ(plain ? format.sizeImage : end, data.size());
      std::vector<jpegtest::Segment> segments = jpegtest::Segments(data.data(), data.size());
      ASSERT_GE(segments.size(), 4u);
      EXPECT_EQ(plain ? 0xDA : 0xC4, segments[3].marker);
      if (plain) data.insert(data.begin() + dht.offset, tables.begin() + dht.offset, tables.begin() + dht.offset + dht.length);
      jpegtest::Picture picture = jpegtest::Decode(data.data(), data.size());
      ASSERT_EQ(format.width, picture.width);
      EXPECT_TRUE(jpegtest::ReadPattern(picture).Upright());
      EXPECT_EQ((plain ? 40000u : 0u) + i, jpegtest::ReadPattern(picture).frameNumber);
      EXPECT_EQ(static_cast<LONGLONG>((plain ? 40000u : 0u) + i), samples[i].mediaStart);
    }
  }
}

TEST(CameraStreaming, BrightnessIsInTheDeliveredFramesOfRgbYuvAndMjpg) {
  // b is added to every colour value before the layout or the JPEG: the black bar reads b when
  // b > 0, the white bar 255 + b when b < 0, and the numbers still read at both ends.
  struct Case {
    const wchar_t* camera;
    int capability;
    GUID subtype;
  } cases[] = {{ZVD_CAMERA_MAIN, 0, MEDIASUBTYPE_RGB24}, {ZVD_CAMERA_MAIN, 1, MEDIASUBTYPE_YUY2},
               {ZVD_CAMERA_MJPG, 2, MEDIASUBTYPE_MJPG}};
  for (const Case& c : cases) {
    ComPtr<IBaseFilter> camera = BindCamera(c.camera);
    VideoFormat format;
    ApplyCapability(camera.Get(), c.capability, &format);
    const int w = format.width, h = format.height;
    ComPtr<IAMVideoProcAmp> procAmp;
    ASSERT_EQ(S_OK, camera.As(&procAmp));
    for (LONG b : {64L, -64L}) {
      SCOPED_TRACE(testing::Message() << "capability " << c.capability << " brightness " << b);
      ASSERT_EQ(S_OK, procAmp->Set(VideoProcAmp_Brightness, b, VideoProcAmp_Flags_Manual));
      SampleCollector collector;
      collector.KeepAll(true);
      std::vector<SampleCollector::Sample> samples = StreamSamples(camera.Get(), c.subtype, &collector, 2);
      ASSERT_GE(samples.size(), 2u);
      // The last frame as bottom-up BGR: decoded JPEG, or the frame in its own layout.
      std::vector<uint8_t> bgr;
      if (IsEqualGUID(c.subtype, MEDIASUBTYPE_MJPG)) {
        jpegtest::Picture picture = jpegtest::Decode(samples[1].data.data(), samples[1].data.size());
        ASSERT_EQ(w, picture.width);
        bgr.assign(static_cast<size_t>(zvpattern::RgbRowStride(w)) * h, 0);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < 3 * w; ++x)
            bgr[(h - 1 - y) * zvpattern::RgbRowStride(w) + x] = picture.rgb[(y * w + x / 3) * 3 + 2 - x % 3];
      } else {
        bgr = zvpattern::ToBgrBottomUp(LayoutOf(c.subtype), samples[1].data.data(), samples[1].data.size(), w, h);
      }
      zvpattern::Decoded decoded = zvpattern::DecodeBgrBottomUp(bgr.data(), bgr.size(), w, h);
      EXPECT_TRUE(decoded.Upright());
      EXPECT_EQ(samples[1].mediaStart, static_cast<LONGLONG>(decoded.frameNumber));
      long black = 0, white = 0, n = 0;
      zvpattern::Sampler s(zvpattern::Layout::RGB24, bgr.data(), bgr.size(), w, h);
      for (int y = h / 4; y < h / 2 - 4; ++y)
        for (int x = 4; x < w / 16 - 4; ++x, ++n) {
          zvpattern::Rgb k = s.At(7 * w / 8 + x, y), o = s.At(w / 16 + x, y);
          black += k.r + k.g + k.b;
          white += o.r + o.g + o.b;
        }
      EXPECT_NEAR(b > 0 ? b : 0, black / (3 * n), 3);
      EXPECT_NEAR(b < 0 ? 255 + b : 255, white / (3 * n), 3);
    }
  }
}

TEST(CameraStreaming, MjpgReachesAnRgb24SinkThroughTheMjpegDecompressorAsThePatternBottomUp) {
  // Rendering MJPG to a grabber that takes RGB24 gets the stand-in decompressor in between, for
  // frames with their Huffman tables and for padded ones without (the standard tables then).
  ScopedCamera webcam(L"ZelvoraDev81 Webcam", L"Zelvora Plain Webcam", L"MJPG 320x240@30", L"nodht jpegpad first:40000");
  ASSERT_EQ(S_OK, webcam.result);
  for (bool plain : {false, true}) {
    SCOPED_TRACE(plain);
    ComPtr<IBaseFilter> camera = BindCamera(plain ? L"Zelvora Plain Webcam" : ZVD_CAMERA_MJPG);
    VideoFormat format;
    ApplyCapability(camera.Get(), plain ? 0 : 2, &format);
    const unsigned first = plain ? 40000 : 0;
    const LONG bytes = zvpattern::RgbRowStride(format.width) * format.height;
    ASSERT_EQ(S_OK, Control(camera.Get())->DeliverShortBuffer(10)) << "the first sample: no picture, dropped";
    SampleCollector collector;
    collector.Expect(zvpattern::Layout::RGB24, format.width, format.height);
    Graph graph;
    ASSERT_EQ(S_OK, graph.Create(camera.Get()));
    ComPtr<IBaseFilter> grabber;
    ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, &collector, &grabber));
    ComPtr<IPin> grabberIn = FindPin(grabber.Get(), nullptr, PINDIR_INPUT), decompressorOut;
    ASSERT_EQ(S_OK, grabberIn->ConnectedTo(&decompressorOut));
    PIN_INFO info;
    ASSERT_EQ(S_OK, decompressorOut->QueryPinInfo(&info));
    ComPtr<IBaseFilter> decompressor;
    *decompressor.GetAddressOf() = info.pFilter;  // takes the reference (MinGW's Attach adds one)
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(S_OK, decompressor->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualGUID(CLSID_MjpegDec, clsid));
    EXPECT_STREQ(L"XForm Out", info.achName);
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, decompressorOut->ConnectionMediaType(&mt));
    VideoFormat out = Describe(&mt);
    CoTaskMemFree(mt.pbFormat);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, out.subtype));
    EXPECT_EQ(format.width, out.width);
    EXPECT_EQ(format.height, out.height) << "positive: bottom-up";
    EXPECT_EQ(static_cast<DWORD>(bytes), out.sizeImage);

    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(WaitUntil([&] { return collector.Count() >= 3; }, 10000));
    graph.Stop();
    std::vector<SampleCollector::Sample> samples = collector.Samples();
    ASSERT_GE(samples.size(), 3u);
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(bytes, samples[i].length);
      EXPECT_TRUE(samples[i].decoded.Upright()) << i;
      EXPECT_EQ(first + 1 + i, samples[i].decoded.frameNumber) << i;
      EXPECT_EQ(static_cast<LONGLONG>(first + 1 + i), samples[i].mediaStart) << "media times passed through";
      ASSERT_TRUE(samples[i].timed);
      EXPECT_EQ(format.interval, samples[i].stop - samples[i].start) << "time stamps passed through";
      EXPECT_EQ(0, samples[i].start % format.interval);
    }
  }
}

TEST(CameraStreaming, TwinCamerasOfOneNameShowTheirOwnNumbersInNv12) {
  ScopedCamera first(L"ZelvoraDev82 Twin", L"Zelvora Twin Camera", L"NV12 161x121@30", nullptr);
  ScopedCamera second(L"ZelvoraDev83 Twin", L"Zelvora Twin Camera", L"NV12 161x121@30", L"first:40000");
  ASSERT_EQ(S_OK, first.result);
  ASSERT_EQ(S_OK, second.result);
  std::vector<DeviceInfo> twins;
  for (const DeviceInfo& device : ListDevices(CLSID_VideoInputDeviceCategory))
    if (device.friendlyName == L"Zelvora Twin Camera") twins.push_back(device);
  ASSERT_EQ(2u, twins.size());
  EXPECT_NE(twins[0].displayName, twins[1].displayName);
  for (unsigned t = 0; t < 2; ++t) {
    ComPtr<IBaseFilter> camera;
    ASSERT_EQ(S_OK, twins[t].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                    reinterpret_cast<void**>(camera.GetAddressOf())));
    AM_MEDIA_TYPE* mt = CapabilityType(StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE).Get(), 0);
    const BITMAPINFOHEADER& bmi = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
    EXPECT_EQ(MAKEFOURCC('N', 'V', '1', '2'), bmi.biCompression);
    EXPECT_EQ(12, bmi.biBitCount);
    EXPECT_EQ(161u * 121u + 2u * 81u * 61u, bmi.biSizeImage);
    FreeMediaType(mt);
    SampleCollector collector;
    collector.Expect(zvpattern::Layout::NV12, 161, 121);
    std::vector<SampleCollector::Sample> samples = StreamSamples(camera.Get(), MEDIASUBTYPE_NV12, &collector, 3);
    ASSERT_GE(samples.size(), 3u);
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(161 * 121 + 2 * 81 * 61, samples[i].length);
      EXPECT_TRUE(samples[i].decoded.Upright());
      EXPECT_EQ(40000 * t + i, samples[i].decoded.frameNumber);
    }
  }
}

TEST(CameraStreaming, TheFrameRateSetIsTheRateStreamed) {
  ScopedCamera registered(L"ZelvoraDev84 Rates", L"Zelvora Rate Camera",
                          L"YUY2 320x240@30; YUY2 320x240@60; YUY2 160x120@60-15", nullptr);
  ASSERT_EQ(S_OK, registered.result);
  ComPtr<IBaseFilter> camera = BindCamera(L"Zelvora Rate Camera");
  ComPtr<IAMStreamConfig> config = StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE);
  ASSERT_TRUE(config);
  // Two records at one size: the interval picks the record (10^7 / 60 truncated still means 60);
  // a range takes any interval inside it, and nothing outside.
  struct Case {
    int capability;
    REFERENCE_TIME asked, applied;
  } cases[] = {{0, 166666, 166667}, {0, 333333, 333333}, {2, 500000, 500000}, {2, 1000000, 0}, {2, 166000, 0}};
  double rates[3] = {0, 0, 0};  // frames per second of stream time
  for (int c = 0; c < 5; ++c) {
    SCOPED_TRACE(c);
    AM_MEDIA_TYPE* mt = CapabilityType(config.Get(), cases[c].capability);
    reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame = cases[c].asked;
    EXPECT_EQ(cases[c].applied ? S_OK : VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
    FreeMediaType(mt);
    if (!cases[c].applied) continue;
    ASSERT_EQ(S_OK, config->GetFormat(&mt));
    EXPECT_EQ(cases[c].applied, Describe(mt).interval);
    FreeMediaType(mt);
    SampleCollector collector;
    std::vector<SampleCollector::Sample> samples = StreamSamples(camera.Get(), MEDIASUBTYPE_YUY2, &collector, 12);
    ASSERT_GE(samples.size(), 12u);
    for (const SampleCollector::Sample& s : samples) {
      EXPECT_EQ(cases[c].applied, s.stop - s.start);
      EXPECT_EQ(0, s.start % cases[c].applied);
    }
    rates[c] = (samples.size() - 1) * 1e7 / static_cast<double>(samples.back().start - samples.front().start);
  }
  EXPECT_GT(rates[0], 1.5 * rates[1]) << "60 frames per second bring about twice as many frames as 30";
  EXPECT_LT(rates[0], 2.5 * rates[1]);
  EXPECT_GT(rates[1], 1.2 * rates[2]);
}

}  // namespace
