// Live streaming of the virtual cameras in hand-built graphs: frames in the layout and size of
// the format, in order, stamped on the graph clock; Smart Tee and two-pin previews; state
// changes; fault injection.
#include "devtest.h"

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

}  // namespace
