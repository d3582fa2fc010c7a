// The virtual microphones: PCM capabilities, a live tone, mixer inputs whose settings a test
// reads back, and the property page every device offers.
#include "devtest.h"

#include <mmreg.h>
#include <ocidl.h>

namespace {

using namespace devtest;

TEST(Microphone, OffersPcmFormatsIncluding22050MonoAndDeliversATone) {
  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  ASSERT_TRUE(microphone);
  ComPtr<IAMStreamConfig> config = StreamConfig(microphone.Get(), PIN_CATEGORY_CAPTURE);
  ASSERT_TRUE(config);
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
  EXPECT_EQ(4, count);
  EXPECT_EQ(static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)), size);
  int wanted = -1;
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* mt = nullptr;
    AUDIO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)));
    const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_PCM, mt->subtype));
    EXPECT_EQ(wfx->nSamplesPerSec, caps.MaximumSampleFrequency);
    if (wfx->nSamplesPerSec == 22050 && wfx->nChannels == 1 && wfx->wBitsPerSample == 16) wanted = i;
    FreeMediaType(mt);
  }
  ASSERT_GE(wanted, 0);
  AM_MEDIA_TYPE* mt = nullptr;
  AUDIO_STREAM_CONFIG_CAPS caps;
  ASSERT_EQ(S_OK, config->GetStreamCaps(wanted, &mt, reinterpret_cast<BYTE*>(&caps)));
  ASSERT_EQ(S_OK, config->SetFormat(mt));
  WAVEFORMATEX* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
  wfx->nSamplesPerSec = 16000;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
  FreeMediaType(mt);

  SampleCollector collector;
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(microphone.Get()));
  ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, MEDIASUBTYPE_PCM, &collector));
  collector.KeepLast(true);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 4; }, 5000));
  graph.Stop();
  std::vector<SampleCollector::Sample> samples = collector.Samples();
  const LONG bufferBytes = 22050 / 20 * 2;  // 50 ms of 16-bit mono
  for (size_t i = 0; i < samples.size(); ++i) {
    EXPECT_EQ(bufferBytes, samples[i].length);
    ASSERT_TRUE(samples[i].timed);
    if (i > 0) {
      EXPECT_EQ(samples[i - 1].stop, samples[i].start) << "buffers follow each other without gaps";
    }
  }
  // A tone, not silence: 16-bit values reach the tone's amplitude.
  std::vector<BYTE> last = collector.LastData();
  ASSERT_EQ(static_cast<size_t>(bufferBytes), last.size());
  int peak = 0;
  for (size_t i = 0; i + 1 < last.size(); i += 2) {
    short value = static_cast<short>(last[i] | (last[i + 1] << 8));
    peak = std::max(peak, static_cast<int>(value < 0 ? -value : value));
  }
  EXPECT_GT(peak, 7000);
}

TEST(Microphone, MixerInputsRecordEnableAndLevel) {
  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  ComPtr<IZelvoraDeviceControl> control = Control(microphone.Get());
  ULONG count = 0;
  ASSERT_EQ(S_OK, control->GetMixerInputCount(&count));
  ASSERT_EQ(3u, count);
  // The input pins, as a host walks them.
  std::vector<std::wstring> names;
  std::vector<ComPtr<IAMAudioInputMixer>> mixers;
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, microphone->EnumPins(&pins));
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    pin->QueryDirection(&direction);
    if (direction == PINDIR_INPUT) {
      PIN_INFO info;
      ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
      names.push_back(info.achName);
      if (info.pFilter) info.pFilter->Release();
      ComPtr<IAMAudioInputMixer> mixer;
      ASSERT_EQ(S_OK, pin->QueryInterface(IID_IAMAudioInputMixer, reinterpret_cast<void**>(mixer.GetAddressOf())));
      mixers.push_back(mixer);
    }
    pin.Reset();
  }
  std::vector<std::wstring> expected = {L"Microphone", L"Line In", L"CD Audio"};
  ASSERT_EQ(expected, names);

  EXPECT_EQ(S_OK, mixers[0]->put_Enable(TRUE));
  EXPECT_EQ(S_OK, mixers[0]->put_MixLevel(0.25));
  EXPECT_EQ(S_OK, mixers[1]->put_Enable(FALSE));
  EXPECT_EQ(S_OK, mixers[2]->put_Enable(FALSE));
  EXPECT_EQ(E_INVALIDARG, mixers[2]->put_MixLevel(1.5));
  EXPECT_EQ(S_OK, mixers[2]->put_MixLevel(AMF_AUTOMATICGAIN));
  ZvdMixerInput input;
  ASSERT_EQ(S_OK, control->GetMixerInput(0, &input));
  EXPECT_STREQ(L"Microphone", input.name);
  EXPECT_TRUE(input.enabled);
  EXPECT_DOUBLE_EQ(0.25, input.mixLevel);
  EXPECT_EQ(1u, input.enableCalls);
  EXPECT_EQ(1u, input.mixLevelCalls);
  ASSERT_EQ(S_OK, control->GetMixerInput(1, &input));
  EXPECT_FALSE(input.enabled);
  EXPECT_EQ(0u, input.mixLevelCalls);
  ASSERT_EQ(S_OK, control->GetMixerInput(2, &input));
  EXPECT_DOUBLE_EQ(AMF_AUTOMATICGAIN, input.mixLevel);
  EXPECT_EQ(2u, input.mixLevelCalls) << "refused calls are counted too";
  EXPECT_EQ(E_INVALIDARG, control->GetMixerInput(3, &input));
  BOOL enabled = TRUE;
  EXPECT_EQ(S_OK, mixers[1]->get_Enable(&enabled));
  EXPECT_FALSE(enabled);
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ULONG cameraInputs = 7;
  ASSERT_EQ(S_OK, Control(camera.Get())->GetMixerInputCount(&cameraInputs));
  EXPECT_EQ(0u, cameraInputs);
}

TEST(Microphone, ModemNamedInstancesAndDeviceLost) {
  ComPtr<IBaseFilter> modem = BindMicrophone(ZVD_MICROPHONE_MODEM);
  ComPtr<IBaseFilter> lower = BindMicrophone(ZVD_MICROPHONE_LOWER_MODEM);
  ASSERT_TRUE(modem && lower);
  EXPECT_NE(std::wstring::npos, std::wstring(ZVD_MICROPHONE_MODEM).find(L"Modem"));
  EXPECT_EQ(std::wstring::npos, std::wstring(ZVD_MICROPHONE_LOWER_MODEM).find(L"Modem"));
  EXPECT_NE(std::wstring::npos, std::wstring(ZVD_MICROPHONE_LOWER_MODEM).find(L"modem"));

  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  SampleCollector collector;
  Graph graph;
  ASSERT_EQ(S_OK, graph.Create(microphone.Get()));
  ASSERT_EQ(S_OK, graph.AddGrabberBranch(PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, MEDIASUBTYPE_PCM, &collector));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 1; }, 5000));
  ASSERT_EQ(S_OK, Control(microphone.Get())->SignalDeviceLost(FALSE));
  LONG_PTR p2 = -1;
  EXPECT_TRUE(graph.WaitEvent(EC_DEVICE_LOST, 2000, nullptr, &p2));
  EXPECT_EQ(0, p2);
  graph.Stop();
}

TEST(PropertyPages, EveryDeviceOffersOnePageThatDescribesIt) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<ISpecifyPropertyPages> specify;
  ASSERT_EQ(S_OK, camera.As(&specify));
  CAUUID pages = {0, nullptr};
  ASSERT_EQ(S_OK, specify->GetPages(&pages));
  ASSERT_EQ(1u, pages.cElems);
  EXPECT_TRUE(IsEqualGUID(CLSID_ZelvoraDevicePropertyPage, pages.pElems[0]));
  CoTaskMemFree(pages.pElems);
  EXPECT_EQ(E_POINTER, specify->GetPages(nullptr));
  ComPtr<IBaseFilter> microphone = BindMicrophone(ZVD_MICROPHONE_MAIN);
  ASSERT_EQ(S_OK, microphone.As(&specify));

  ComPtr<IPropertyPage> page;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZelvoraDevicePropertyPage, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                   reinterpret_cast<void**>(page.GetAddressOf())));
  PROPPAGEINFO info;
  ASSERT_EQ(S_OK, page->GetPageInfo(&info));
  EXPECT_STREQ(L"Zelvora Device", info.pszTitle);
  EXPECT_GT(info.size.cx, 0);
  CoTaskMemFree(info.pszTitle);
  IUnknown* objects[] = {camera.Get()};
  ASSERT_EQ(S_OK, page->SetObjects(1, objects));
  // The page window needs a display: without one (Wine with no X server creates no child
  // windows at all) Activate must fail cleanly; with one it shows the device and its format.
  HWND parent = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(parent);
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 1, 1, parent, nullptr, nullptr, nullptr);
  RECT rect = {0, 0, 260, 90};
  if (!probe) {
    EXPECT_TRUE(FAILED(page->Activate(parent, &rect, FALSE)));
    EXPECT_EQ(E_UNEXPECTED, page->Show(SW_SHOW));
  } else {
    DestroyWindow(probe);
    ASSERT_EQ(S_OK, page->Activate(parent, &rect, FALSE));
    HWND child = GetWindow(parent, GW_CHILD);
    ASSERT_TRUE(child);
    WCHAR text[256] = {0};
    GetWindowTextW(child, text, 256);
    EXPECT_NE(nullptr, wcsstr(text, ZVD_CAMERA_MAIN));
    EXPECT_NE(nullptr, wcsstr(text, L"RGB24 320x240"));
    EXPECT_EQ(S_OK, page->Show(SW_SHOW));
  }
  EXPECT_EQ(S_FALSE, page->IsPageDirty());
  EXPECT_EQ(S_OK, page->Deactivate());
  EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
  DestroyWindow(parent);
}

}  // namespace
