// The registered devices as a host finds them: enumeration order and names, configuration from
// the device's property bag, pins by category, capability lists and format selection.
#include "devtest.h"

#include <amvideo.h>
#include <dvdmedia.h>

namespace {

using namespace devtest;

std::vector<std::wstring> Names(const std::vector<DeviceInfo>& devices) {
  std::vector<std::wstring> names;
  for (const DeviceInfo& d : devices) names.push_back(d.friendlyName);
  return names;
}

TEST(DeviceRegistration, DefaultSetIsListedInOrderWithTheMainCameraFirst) {
  std::vector<std::wstring> cameras = Names(ListDevices(CLSID_VideoInputDeviceCategory));
  std::vector<std::wstring> expected = {ZVD_CAMERA_MAIN,  ZVD_CAMERA_PREVIEW,     ZVD_CAMERA_VIDEOINFO2,
                                        ZVD_CAMERA_MJPG,  ZVD_CAMERA_MPEG2,       ZVD_CAMERA_INTERLEAVED,
                                        ZVD_CAMERA_VIDEOPORT, ZVD_CAMERA_TVTUNER};
  EXPECT_EQ(expected, cameras);
  std::vector<std::wstring> microphones = Names(ListDevices(CLSID_AudioInputDeviceCategory));
  ASSERT_GE(microphones.size(), 3u);
  EXPECT_EQ(ZVD_MICROPHONE_MAIN, microphones[0]);
  EXPECT_EQ(ZVD_MICROPHONE_MODEM, microphones[1]);
  EXPECT_EQ(ZVD_MICROPHONE_LOWER_MODEM, microphones[2]);
  // Display names parse back into monikers that bind to a configured device.
  for (const DeviceInfo& device : ListDevices(CLSID_VideoInputDeviceCategory)) {
    ComPtr<IBindCtx> context;
    ASSERT_EQ(S_OK, CreateBindCtx(0, &context));
    ComPtr<IMoniker> parsed;
    ULONG eaten = 0;
    ASSERT_EQ(S_OK, MkParseDisplayName(context.Get(), device.displayName.c_str(), &eaten, &parsed));
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, parsed->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
    WCHAR name[128] = {0};
    ULONG kind = 0;
    ASSERT_EQ(S_OK, Control(filter.Get())->GetIdentity(&kind, name, 128));
    EXPECT_EQ(device.friendlyName, name);
    EXPECT_EQ(static_cast<ULONG>(ZVD_KIND_CAMERA), kind);
  }
}

TEST(DeviceRegistration, SetsSwitchAndRestoreAndExtraDevicesRegister) {
  auto registerSet = DeviceExport<ZvdRegisterDeviceSetFn>("ZvdRegisterDeviceSet");
  auto registerDevice = DeviceExport<ZvdRegisterDeviceFn>("ZvdRegisterDevice");
  auto unregisterDevice = DeviceExport<ZvdUnregisterDeviceFn>("ZvdUnregisterDevice");
  ASSERT_TRUE(registerSet && registerDevice && unregisterDevice);

  ASSERT_EQ(S_OK, registerSet(L"none"));
  EXPECT_TRUE(ListDevices(CLSID_VideoInputDeviceCategory).empty());
  for (const std::wstring& name : Names(ListDevices(CLSID_AudioInputDeviceCategory)))
    EXPECT_EQ(std::wstring::npos, name.find(L"Zelvora"));
  ComPtr<ICreateDevEnum> enumerator;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   reinterpret_cast<void**>(enumerator.GetAddressOf())));
  ComPtr<IEnumMoniker> monikers;
  EXPECT_EQ(S_FALSE, enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0));

  ASSERT_EQ(S_OK, registerSet(L"nomicrophone"));
  EXPECT_EQ(8u, ListDevices(CLSID_VideoInputDeviceCategory).size());
  EXPECT_EQ(0u, Names(ListDevices(CLSID_AudioInputDeviceCategory)).size() -
                    (Names(ListDevices(CLSID_AudioInputDeviceCategory)).empty() ? 0 : 1))
      << "only the platform's own input may remain";
  ASSERT_EQ(S_OK, registerSet(L"nocamera"));
  EXPECT_TRUE(ListDevices(CLSID_VideoInputDeviceCategory).empty());
  EXPECT_EQ(ZVD_MICROPHONE_MAIN, ListDevices(CLSID_AudioInputDeviceCategory).at(0).friendlyName);
  EXPECT_EQ(E_INVALIDARG, registerSet(L"everything"));
  EXPECT_EQ(E_POINTER, registerSet(nullptr));

  // An extra camera with its own capability list; bad values are refused before registration.
  ASSERT_EQ(S_OK, registerSet(L"default"));
  EXPECT_EQ(E_INVALIDARG, registerDevice(ZVD_KIND_CAMERA, L"ZelvoraDev90 Bad", L"Bad", L"YUY2 641x480@30", nullptr));
  EXPECT_EQ(E_INVALIDARG, registerDevice(ZVD_KIND_CAMERA, L"ZelvoraDev90 Bad", L"Bad", L"YUY2 640x480@30", L"tuner"));
  for (const wchar_t* pins : {L"first:65536", L"first:", L"first:-1", L"first:12a"})
    EXPECT_EQ(E_INVALIDARG, registerDevice(ZVD_KIND_CAMERA, L"ZelvoraDev90 Bad", L"Bad", nullptr, pins));
  EXPECT_EQ(E_INVALIDARG, registerDevice(ZVD_KIND_CAMERA, L"Bad\\Key", L"Bad", nullptr, nullptr));
  EXPECT_EQ(E_INVALIDARG, registerDevice(7, L"ZelvoraDev90 Bad", L"Bad", nullptr, nullptr));
  ASSERT_EQ(S_OK, registerDevice(ZVD_KIND_CAMERA, L"ZelvoraDev90 Extra", L"Extra Camera",
                                 L"I420 160x120@30; RGB24 160x120@30", nullptr));
  std::vector<std::wstring> cameras = Names(ListDevices(CLSID_VideoInputDeviceCategory));
  ASSERT_EQ(9u, cameras.size());
  EXPECT_EQ(L"Extra Camera", cameras.back());
  ComPtr<IBaseFilter> extra = BindCamera(L"Extra Camera");
  ASSERT_TRUE(extra);
  ComPtr<IAMStreamConfig> config = StreamConfig(extra.Get(), PIN_CATEGORY_CAPTURE);
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
  EXPECT_EQ(2, count);
  AM_MEDIA_TYPE* first = CapabilityType(config.Get(), 0);
  EXPECT_TRUE(IsEqualGUID(kSubtypeI420, Describe(first).subtype));
  FreeMediaType(first);

  // Instance names order the list: a key sorting before ours comes first.
  ASSERT_EQ(S_OK, registerDevice(ZVD_KIND_CAMERA, L"AAA Early", L"Early Camera", nullptr, nullptr));
  EXPECT_EQ(L"Early Camera", ListDevices(CLSID_VideoInputDeviceCategory).at(0).friendlyName);
  EXPECT_EQ(S_OK, unregisterDevice(ZVD_KIND_CAMERA, L"AAA Early"));
  EXPECT_EQ(S_OK, unregisterDevice(ZVD_KIND_CAMERA, L"ZelvoraDev90 Extra"));
  EXPECT_EQ(ZVD_CAMERA_MAIN, ListDevices(CLSID_VideoInputDeviceCategory).at(0).friendlyName);
  EXPECT_EQ(8u, ListDevices(CLSID_VideoInputDeviceCategory).size());
}

TEST(DeviceRegistration, ValuesThatDoNotParseFailTheBind) {
  // Written straight into the instance key, as a careless set-up script could.
  auto registerDevice = DeviceExport<ZvdRegisterDeviceFn>("ZvdRegisterDevice");
  auto unregisterDevice = DeviceExport<ZvdUnregisterDeviceFn>("ZvdUnregisterDevice");
  ASSERT_EQ(S_OK, registerDevice(ZVD_KIND_CAMERA, L"ZelvoraDev91 Broken", L"Broken Camera", nullptr, nullptr));
  WCHAR category[64];
  StringFromGUID2(CLSID_VideoInputDeviceCategory, category, 64);
  std::wstring path = std::wstring(L"CLSID\\") + category + L"\\Instance\\ZelvoraDev91 Broken";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_WRITE, &key));
  const wchar_t bad[] = L"YUY2 640x480@; RGB99 1x1@1";
  RegSetValueExW(key, L"ZelvoraFormats", 0, REG_SZ, reinterpret_cast<const BYTE*>(bad), sizeof(bad));
  RegCloseKey(key);
  ComPtr<IBaseFilter> filter;
  for (const DeviceInfo& device : ListDevices(CLSID_VideoInputDeviceCategory)) {
    if (device.friendlyName != L"Broken Camera") continue;
    EXPECT_EQ(E_INVALIDARG, device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                          reinterpret_cast<void**>(filter.GetAddressOf())));
  }
  EXPECT_FALSE(filter);
  EXPECT_EQ(S_OK, unregisterDevice(ZVD_KIND_CAMERA, L"ZelvoraDev91 Broken"));
}

TEST(CameraPins, CategoriesAreFoundThroughTheCaptureGraphBuilder) {
  struct Case {
    const wchar_t* camera;
    bool preview, vbi, videoPort;
  } cases[] = {{ZVD_CAMERA_MAIN, false, false, false},
               {ZVD_CAMERA_PREVIEW, true, false, false},
               {ZVD_CAMERA_TVTUNER, false, true, false},
               {ZVD_CAMERA_VIDEOPORT, false, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.camera)));
    ComPtr<IBaseFilter> camera = BindCamera(c.camera);
    ASSERT_TRUE(camera);
    EXPECT_TRUE(FindPin(camera.Get(), &PIN_CATEGORY_CAPTURE));
    EXPECT_EQ(c.preview, FindPin(camera.Get(), &PIN_CATEGORY_PREVIEW) != nullptr);
    EXPECT_EQ(c.vbi, FindPin(camera.Get(), &PIN_CATEGORY_VBI) != nullptr);
    EXPECT_EQ(c.videoPort, FindPin(camera.Get(), &PIN_CATEGORY_VIDEOPORT) != nullptr);
  }
  // The property itself, including a size query and bad requests.
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IPin> pin = FindPin(camera.Get(), &PIN_CATEGORY_CAPTURE);
  ComPtr<IKsPropertySet> props;
  ASSERT_EQ(S_OK, pin.As(&props));
  DWORD returned = 0;
  EXPECT_EQ(S_OK, props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(sizeof(GUID), returned);
  GUID category = GUID_NULL;
  EXPECT_EQ(E_UNEXPECTED, props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 3, &returned));
  EXPECT_EQ(E_PROP_ID_UNSUPPORTED, props->Get(AMPROPSETID_Pin, 7, nullptr, 0, &category, sizeof(category), &returned));
  EXPECT_EQ(E_PROP_SET_UNSUPPORTED, props->Get(PIN_CATEGORY_CAPTURE, 0, nullptr, 0, &category, sizeof(category), &returned));
  EXPECT_NE(S_OK, props->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category)));
  DWORD support = 0;
  EXPECT_EQ(S_OK, props->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support));
  EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET), support);
  // Live source flag.
  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_EQ(S_OK, camera.As(&flags));
  EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE), flags->GetMiscFlags());
}

TEST(CameraFormats, MainCameraListsItsCapabilitiesInOrder) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IAMStreamConfig> config = StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE);
  ASSERT_TRUE(config);
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
  ASSERT_EQ(14, count);
  EXPECT_EQ(static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)), size);
  const SIZE sizes[] = {{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}};
  const GUID* subtypes[] = {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, &kSubtypeI420};
  for (int i = 0; i < 12; ++i) {
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)));
    VideoFormat f = Describe(mt);
    EXPECT_TRUE(IsEqualGUID(*subtypes[i % 3], f.subtype)) << i;
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, f.formattype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, caps.guid));
    EXPECT_EQ(sizes[i / 3].cx, f.width);
    EXPECT_EQ(sizes[i / 3].cy, f.height);
    EXPECT_EQ(sizes[i / 3].cx, caps.MaxOutputSize.cx);
    EXPECT_EQ(sizes[i / 3].cy, caps.MinOutputSize.cy);
    EXPECT_EQ(333333, f.interval);
    LONG expectedBytes = i % 3 == 0 ? ((f.width * 3 + 3) & ~3) * f.height
                                    : (i % 3 == 1 ? f.width * 2 * f.height : f.width * f.height * 3 / 2);
    EXPECT_EQ(static_cast<DWORD>(expectedBytes), f.sizeImage);
    EXPECT_EQ(static_cast<ULONG>(expectedBytes), f.sampleSize);
    FreeMediaType(mt);
  }
  AM_MEDIA_TYPE* fast = CapabilityType(config.Get(), 12);
  EXPECT_EQ(166667, Describe(fast).interval);
  FreeMediaType(fast);
  // Past the end and bad arguments.
  AM_MEDIA_TYPE* mt = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps;
  EXPECT_EQ(S_FALSE, config->GetStreamCaps(14, &mt, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(nullptr, mt);
  EXPECT_EQ(E_INVALIDARG, config->GetStreamCaps(-1, &mt, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(E_POINTER, config->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(E_POINTER, config->GetStreamCaps(0, &mt, nullptr));
  EXPECT_EQ(E_POINTER, config->GetNumberOfCapabilities(nullptr, &size));
}

TEST(CameraFormats, VariantsOfferWhatTheyAreFor) {
  // VideoInfo2 only; MJPG among YUY2; MPEG-2 first; an interleaved DV stream first.
  ComPtr<IBaseFilter> vih2 = BindCamera(ZVD_CAMERA_VIDEOINFO2);
  ComPtr<IAMStreamConfig> config = StreamConfig(vih2.Get(), PIN_CATEGORY_CAPTURE);
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* mt = CapabilityType(config.Get(), i);
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo2, mt->formattype));
    FreeMediaType(mt);
  }
  ComPtr<IBaseFilter> mjpg = BindCamera(ZVD_CAMERA_MJPG);
  config = StreamConfig(mjpg.Get(), PIN_CATEGORY_CAPTURE);
  AM_MEDIA_TYPE* third = CapabilityType(config.Get(), 2);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MJPG, third->subtype));
  FreeMediaType(third);

  ComPtr<IBaseFilter> mpeg2 = BindCamera(ZVD_CAMERA_MPEG2);
  ComPtr<IPin> pin = FindPin(mpeg2.Get(), &PIN_CATEGORY_CAPTURE);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, pin->EnumMediaTypes(&types));
  AM_MEDIA_TYPE* first = nullptr;
  ASSERT_EQ(S_OK, types->Next(1, &first, nullptr));
  const GUID mpeg2Video = {0xe06d8026, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, first->majortype));
  EXPECT_TRUE(IsEqualGUID(mpeg2Video, first->subtype));
  FreeMediaType(first);

  // The interleaved camera's stream configuration is found under MEDIATYPE_Interleaved; the
  // main camera's is not.
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                   reinterpret_cast<void**>(builder.GetAddressOf())));
  ComPtr<IBaseFilter> dv = BindCamera(ZVD_CAMERA_INTERLEAVED);
  ComPtr<IAMStreamConfig> found;
  EXPECT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, dv.Get(), IID_IAMStreamConfig,
                                         reinterpret_cast<void**>(found.GetAddressOf())));
  found.Reset();
  ComPtr<IBaseFilter> main = BindCamera(ZVD_CAMERA_MAIN);
  EXPECT_NE(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, main.Get(), IID_IAMStreamConfig,
                                         reinterpret_cast<void**>(found.GetAddressOf())));
  EXPECT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, main.Get(), IID_IAMStreamConfig,
                                         reinterpret_cast<void**>(found.GetAddressOf())));
}

TEST(CameraFormats, MjpgCameraListsTodaysFormatsInOrder) {
  ComPtr<IAMStreamConfig> config = StreamConfig(BindCamera(ZVD_CAMERA_MJPG).Get(), PIN_CATEGORY_CAPTURE);
  ASSERT_TRUE(config);
  std::wstring listed;
  for (int i = 0; AM_MEDIA_TYPE* mt = CapabilityType(config.Get(), i); ++i) {
    VideoFormat f = Describe(mt);
    wchar_t entry[64];
    swprintf(entry, 64, L"%ls %ldx%ld %lld%ls; ", IsEqualGUID(MEDIASUBTYPE_MJPG, f.subtype) ? L"MJPG" : L"YUY2", f.width,
             f.height, static_cast<long long>(f.interval), IsEqualGUID(FORMAT_VideoInfo2, f.formattype) ? L" vih2" : L"");
    listed += entry;
    FreeMediaType(mt);
  }
  EXPECT_EQ(L"YUY2 640x480 333333; YUY2 320x240 333333; MJPG 640x480 333333; YUY2 640x480 333333 vih2; "
            L"MJPG 1280x720 333333; YUY2 1280x720 2000000; ", listed);
}

TEST(CameraFormats, SetFormatAppliesOfferedCapabilitiesAndRefusesTheRest) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_MAIN);
  ComPtr<IAMStreamConfig> config = StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE);
  ComPtr<IZelvoraDeviceControl> control = Control(camera.Get());
  // Before SetFormat: the first capability.
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(S_OK, config->GetFormat(&current));
  EXPECT_EQ(320, Describe(current).width);
  FreeMediaType(current);
  AM_MEDIA_TYPE* last = nullptr;
  HRESULT lastResult = E_FAIL;
  EXPECT_EQ(S_FALSE, control->GetLastSetFormat(&last, &lastResult));

  // YUY2 640x480 as a host prepares it: biSizeImage and lSampleSize counted at 3 bytes a pixel.
  AM_MEDIA_TYPE* mt = CapabilityType(config.Get(), 4);
  ASSERT_TRUE(mt);
  VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  info->bmiHeader.biSizeImage = 640 * 480 * 3;
  mt->lSampleSize = 640 * 480 * 3;
  EXPECT_EQ(S_OK, config->SetFormat(mt));
  ASSERT_EQ(S_OK, config->GetFormat(&current));
  VideoFormat f = Describe(current);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, f.subtype));
  EXPECT_EQ(640, f.width);
  EXPECT_EQ(static_cast<DWORD>(640 * 480 * 2), f.sizeImage);  // the real size of what is delivered
  FreeMediaType(current);
  // The request is kept as it was passed.
  ASSERT_EQ(S_OK, control->GetLastSetFormat(&last, &lastResult));
  EXPECT_EQ(S_OK, lastResult);
  EXPECT_EQ(static_cast<DWORD>(640 * 480 * 3), Describe(last).sizeImage);
  FreeMediaType(last);
  // After SetFormat the pin offers only that type.
  ComPtr<IPin> pin = FindPin(camera.Get(), &PIN_CATEGORY_CAPTURE);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, pin->EnumMediaTypes(&types));
  AM_MEDIA_TYPE* offered[2] = {nullptr, nullptr};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, types->Next(2, offered, &fetched));
  ASSERT_EQ(1u, fetched);
  EXPECT_EQ(640, Describe(offered[0]).width);
  FreeMediaType(offered[0]);

  // 15 fps is the later 640x480 YUY2 capability (duplicate sizes); 10 fps no capability has.
  info->AvgTimePerFrame = 666667;
  EXPECT_EQ(S_OK, config->SetFormat(mt));
  ASSERT_EQ(S_OK, config->GetFormat(&current));
  EXPECT_EQ(666667, Describe(current).interval);
  FreeMediaType(current);
  info->AvgTimePerFrame = 1000000;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
  info->AvgTimePerFrame = 0;  // 0: the first matching capability's own rate
  EXPECT_EQ(S_OK, config->SetFormat(mt));
  // Sizes not offered, a top-down picture, a foreign subtype, a short format block.
  info->bmiHeader.biWidth = 642;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
  info->bmiHeader.biWidth = 640;
  info->bmiHeader.biHeight = -480;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
  info->bmiHeader.biHeight = 480;
  mt->subtype = MEDIASUBTYPE_RGB32;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
  mt->subtype = MEDIASUBTYPE_YUY2;
  ULONG fullBlock = mt->cbFormat;
  mt->cbFormat = 10;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
  mt->cbFormat = fullBlock;
  EXPECT_EQ(E_POINTER, config->SetFormat(nullptr));
  ASSERT_EQ(S_OK, control->GetLastSetFormat(&last, &lastResult));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, lastResult);
  FreeMediaType(last);
  // A refused request leaves the format applied before.
  ASSERT_EQ(S_OK, config->GetFormat(&current));
  EXPECT_EQ(640, Describe(current).width);
  FreeMediaType(current);
  FreeMediaType(mt);
}

TEST(CameraFormats, PreviewPinFollowsTheCapturePinUntilSetItself) {
  ComPtr<IBaseFilter> camera = BindCamera(ZVD_CAMERA_PREVIEW);
  ComPtr<IAMStreamConfig> capture = StreamConfig(camera.Get(), PIN_CATEGORY_CAPTURE);
  ComPtr<IAMStreamConfig> preview = StreamConfig(camera.Get(), PIN_CATEGORY_PREVIEW);
  ASSERT_TRUE(capture && preview);
  AM_MEDIA_TYPE* small = CapabilityType(capture.Get(), 1);  // 320x240
  ASSERT_EQ(S_OK, capture->SetFormat(small));
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(S_OK, preview->GetFormat(&current));
  EXPECT_EQ(320, Describe(current).width);
  FreeMediaType(current);
  AM_MEDIA_TYPE* large = CapabilityType(preview.Get(), 0);  // 640x480
  ASSERT_EQ(S_OK, preview->SetFormat(large));
  ASSERT_EQ(S_OK, preview->GetFormat(&current));
  EXPECT_EQ(640, Describe(current).width);
  FreeMediaType(current);
  ASSERT_EQ(S_OK, capture->GetFormat(&current));
  EXPECT_EQ(320, Describe(current).width);
  FreeMediaType(current);
  FreeMediaType(small);
  FreeMediaType(large);
}

}  // namespace
