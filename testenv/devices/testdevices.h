#pragma once
// Zelvora test devices: the virtual cameras, virtual microphones, the stand-in WM ASF Writer and
// the stand-in MJPEG Decompressor that the test environment registers into a Wine prefix
// (zelvora_devices.dll, never part of Zelvora.dll). This header is the contract for tests and
// tools that use them.
//
// Registration
//   `zelvora_devices_setup.exe [set]` (or regsvr32 zelvora_devices.dll, which registers the
//   "default" set) registers the classes and a set of device instances. The ctest fixture
//   `zelvora_devices` runs it for the build tree's prefix; `./run.sh demo` runs it too.
//   Device instances are registered with IFilterMapper2::RegisterFilter under the video or audio
//   input category; each instance key holds its configuration (see "Configuration values").
//
// Enumeration order
//   Wine's system device enumerator lists the instances of a category in the order of their
//   instance key names (the registry keeps subkeys sorted, case-insensitively). Instance keys are
//   therefore named "ZelvoraDevNN ..." so that the main camera and the main microphone come first.
//
// Finding live devices from a test in the same process
//   - every device filter answers QueryInterface for IZelvoraDeviceControl;
//   - the DLL exports ZvdGetLiveDevices (all live camera and microphone filters of the process).
//   Tests of Zelvora.dll get the module with GetModuleHandleW(L"zelvora_devices.dll") once a
//   device was bound, and the functions with GetProcAddress (names undecorated, __stdcall).

#include <windows.h>
#include <unknwn.h>
#include <strmif.h>

// ---- Class ids --------------------------------------------------------------------------
// {AD53238D-D647-4D93-8554-07E7F18FB97E}
static const CLSID CLSID_ZelvoraVirtualCamera = {
    0xad53238d, 0xd647, 0x4d93, {0x85, 0x54, 0x07, 0xe7, 0xf1, 0x8f, 0xb9, 0x7e}};
// {70833199-9BA9-403E-B79B-FA76D578C8DA}
static const CLSID CLSID_ZelvoraVirtualMicrophone = {
    0x70833199, 0x9ba9, 0x403e, {0xb7, 0x9b, 0xfa, 0x76, 0xd5, 0x78, 0xc8, 0xda}};
// {D4D4F151-0607-4667-A605-1C42B72C2E41}: the one property page of every device.
static const CLSID CLSID_ZelvoraDevicePropertyPage = {
    0xd4d4f151, 0x0607, 0x4667, {0xa6, 0x05, 0x1c, 0x42, 0xb7, 0x2c, 0x2e, 0x41}};
// The stand-in writer is registered under the platform's WM ASF Writer class id,
// CLSID_WMAsfWriter {7C23220E-55BB-11D3-8B16-00C04FB6BD3D} (uuids.h), filter name "WM ASF Writer".
// The stand-in decompressor is registered under the platform's MJPEG Decompressor class id,
// CLSID_MjpegDec {301056D0-6DFF-11D2-9EEB-006008039E37} (uuids.h), filter name "MJPEG
// Decompressor", in CLSID_LegacyAmFilterCategory with MERIT_NORMAL and the pin types
// MEDIATYPE_Video/MEDIASUBTYPE_MJPG in and MEDIATYPE_Video/MEDIASUBTYPE_RGB24 out, so that Wine's
// intelligent connect inserts it where Windows inserts its own (see "The stand-in decompressor").

// ---- Device instances of the "default" set, in enumeration order --------------------------
// Cameras (CLSID_VideoInputDeviceCategory):
#define ZVD_CAMERA_MAIN L"Zelvora Virtual Camera"
//   capture pin only (a preview request gets a Smart Tee); capabilities, in this order:
//   for each size 320x240, 640x480, 1280x720, 1920x1080: RGB24@30, YUY2@30, I420@30;
//   then YUY2 1920x1080@60 and YUY2 640x480@15 (duplicate sizes). All FORMAT_VideoInfo.
#define ZVD_CAMERA_PREVIEW L"Zelvora Preview Camera"
//   YUY2 only: 640x480@30, 320x240@30, 640x480@15; a capture pin and a separate preview pin.
#define ZVD_CAMERA_VIDEOINFO2 L"Zelvora VideoInfo2 Camera"
//   only FORMAT_VideoInfo2 capabilities: YUY2 640x480@30, RGB24 320x240@30.
#define ZVD_CAMERA_MJPG L"Zelvora MJPG Camera"
//   YUY2 640x480@30, YUY2 320x240@30, MJPG 640x480@30, YUY2 640x480@30 as FORMAT_VideoInfo2,
//   MJPG 1280x720@30, YUY2 1280x720@5 (as cameras on USB 2: uncompressed only slowly when large).
#define ZVD_CAMERA_MPEG2 L"Zelvora MPEG-2 Camera"
//   MPEG-2 video 720x480@30 (FORMAT_MPEG2Video), then YUY2 640x480@30.
#define ZVD_CAMERA_INTERLEAVED L"Zelvora Interleaved Camera"
//   DV (MEDIATYPE_Interleaved, dvsd, FORMAT_DvInfo) 720x480@30, then YUY2 640x480@30.
#define ZVD_CAMERA_VIDEOPORT L"Zelvora VideoPort Camera"
//   YUY2 640x480@30 and an extra PIN_CATEGORY_VIDEOPORT output pin.
#define ZVD_CAMERA_TVTUNER L"Zelvora TV Tuner"
//   YUY2 640x480@30 and an extra PIN_CATEGORY_VBI output pin.
// Microphones (CLSID_AudioInputDeviceCategory), each with input pins "Microphone", "Line In",
// "CD Audio" (IAMAudioInputMixer) and PCM capabilities 44100/2/16, 22050/1/16, 11025/1/8,
// 48000/2/16 (rate/channels/bits):
#define ZVD_MICROPHONE_MAIN L"Zelvora Virtual Microphone"
#define ZVD_MICROPHONE_MODEM L"Zelvora Modem Line"       // contains "Modem"
#define ZVD_MICROPHONE_LOWER_MODEM L"Zelvora modem Input"  // contains "modem" only

// Device sets for ZvdRegisterDeviceSet / zelvora_devices_setup.exe:
//   "default"       every instance above
//   "none"          no camera and no microphone
//   "nocamera"      the microphones only
//   "nomicrophone"  the cameras only
// The classes (and the stand-in writer) stay registered in every set.

// ---- Configuration values (REG_SZ in the instance key, read through IPersistPropertyBag) ----
//   "ZelvoraFormats"  camera: entries separated by ';', each "SUBTYPE WxH@FPS[-MINFPS] [vih2]"
//                     with SUBTYPE one of RGB24, YUY2, I420, NV12, MJPG, MPEG2, DVSD; "vih2" gives
//                     a FORMAT_VideoInfo2 entry. Example: "YUY2 640x480@30; MJPG 640x480@30".
//                     YUY2 needs an even width, I420 even sizes; NV12 takes any size.
//                     Frame rates: "@30" is one rate; "@60-15" a range (the interval of any rate
//                     from 15 to 60 frames per second may be set); the same size twice with two
//                     rates gives two records ("YUY2 640x480@30; YUY2 640x480@60").
//                     microphone: entries "RATE/CHANNELS/BITS", e.g. "22050/1/16; 44100/2/16".
//   "ZelvoraPins"     camera: words "preview", "vbi", "videoport" adding those output pins;
//                     "preview:WxH" (even sizes) adds a preview pin that scales: it delivers
//                     each capture format at WxH, whatever size the capture pin was set to;
//                     with it, "topdown" makes its RGB24 frames top-down (negative biHeight);
//                     "first:N" (0..65535) makes every stream start at frame number N (the
//                     picture's number and the media times), so that two cameras of the same
//                     friendly name are told apart by their pictures;
//                     "nodht" leaves the DHT segment out of MJPG frames (decoders then use the
//                     standard tables); "jpegpad" makes MJPG samples the announced frame size
//                     (biSizeImage): the JPEG followed by zeros;
//                     "nocontrols" takes IAMVideoProcAmp and IAMCameraControl away (QueryInterface
//                     answers E_NOINTERFACE for both; see "Camera controls").
//   "ZelvoraInputs"   microphone: input pin names separated by ';' (default as above).
// A value that cannot be parsed makes IPersistPropertyBag::Load fail with E_INVALIDARG, so the
// moniker does not bind. A filter created without Load (plain CoCreateInstance) behaves as the
// main camera (or main microphone).

// ---- Behaviour worth knowing -------------------------------------------------------------
// Output pins: "Capture" (PIN_CATEGORY_CAPTURE), "Preview" (PIN_CATEGORY_PREVIEW), "VBI",
// "VideoPort" (these two never deliver). Category through IKsPropertySet (AMPROPSETID_Pin,
// AMPROPERTY_PIN_CATEGORY). Capture and preview pins have IAMStreamConfig over the capability
// list. SetFormat accepts a media type of an offered capability (same major type, subtype and
// format type, a size within the capability's range, a frame interval within its range or 0):
// the format applied has the sizes recomputed (biSizeImage, lSampleSize) for the subtype, and
// GetFormat reports it. Anything else: VFW_E_INVALIDMEDIATYPE; not stopped: VFW_E_NOT_STOPPED.
// After SetFormat the pin offers only that type. The preview pin follows the capture pin's
// format (at its own size when it scales) until SetFormat is called on the preview pin itself.
// A frame interval one unit (100 ns) outside a capability's range counts as its bound (hosts that
// compute 10^7 / 60 get 166666 for the 166667 listed).
// Streaming: one thread per delivering pin from Pause to Stop, frames only while running, at the
// format's frame interval, time stamps = graph clock - run start (restarting at every Run),
// media times = frame numbers, IAMFilterMiscFlags = AM_FILTER_MISC_FLAGS_IS_SOURCE (live: Pause
// answers VFW_S_CANT_CUE). Uncompressed frames (RGB24, YUY2, I420, NV12) carry the pattern of
// framepattern.h. MJPG frames are baseline JPEG pictures of the pattern (jpegwriter.h: 4:2:2,
// quality 85, standard tables; no JFIF segment), each sample's actual data length the JPEG's
// length unless "jpegpad" (the pin's own buffers always hold a frame; a smaller buffer of another
// allocator gets opaque bytes); MPEG-2 and DV frames are opaque bytes (no decodable stream).
// Microphone: a 440 Hz tone in 50 ms buffers, time stamps from the byte position.

// ---- Camera controls -----------------------------------------------------------------------
// Every camera filter object answers QueryInterface for IAMVideoProcAmp and IAMCameraControl
// (strmif.h), unless its pin words hold "nocontrols". Supported controls, with
// minimum..maximum, step, default, caps (1 = VideoProcAmp_Flags_Auto / CameraControl_Flags_Auto,
// 2 = ..._Manual) and the mode a new filter object starts in:
//   IAMVideoProcAmp   Brightness             -64..64      step 1    default 0     manual       starts manual
//                     Contrast               0..100       step 1    default 50    manual       starts manual
//                     Saturation             0..200       step 1    default 100   manual       starts manual
//                     Sharpness              0..7         step 1    default 2     manual       starts manual
//                     WhiteBalance           2800..6500   step 100  default 4600  auto|manual  starts auto
//                     BacklightCompensation  0..1         step 1    default 0     manual       starts manual
//                     Gain                   0..100       step 1    default 0     auto|manual  starts manual
//   IAMCameraControl  Zoom                   100..400     step 10   default 100   manual       starts manual
//                     Exposure               -11..-2      step 1    default -6    auto|manual  starts auto
//                     Focus                  0..250       step 5    default 0     auto|manual  starts auto
// Hue, Gamma, ColorEnable, Pan, Tilt, Roll, Iris and ids outside the enums: GetRange, Get and Set
// answer E_PROP_ID_UNSUPPORTED (HRESULT_FROM_WIN32(ERROR_NOT_FOUND), 0x80070490).
// Set of a supported control stores the value as given, without checking range or step, with
// the flags given when they are exactly 1 or 2 (even automatic for a manual-only control);
// other flags: E_INVALIDARG, nothing stored. Like many drivers: the caller must check. Get
// returns the stored value and flags. Null out pointers: E_POINTER.
// Values live in the filter object: every new filter object (every bind of the moniker, i.e.
// every load of a component that uses the camera) starts at the defaults above. Real USB cameras
// usually keep their last values while they stay plugged in, and some drivers restore saved
// values when the device is opened; a test that relies on defaults after a reload relies on the
// virtual camera.
// Brightness is applied to the pictures: every delivered frame of every pin (RGB24, YUY2, I420,
// NV12 and MJPG) has the stored brightness b added to each R, G, B value of the pattern (clamped
// to 0..255) before the layout or the JPEG is made, whatever its mode; framepattern.h reads
// frame numbers and orientation at every b from -64 to 64. The other controls change nothing in
// the pictures.
// Set counter: IZelvoraDeviceControl::GetControlSetCount gives the number of Set calls the
// filter object received through both interfaces (failed ones included), for tests that check
// whether a component sent anything to the device.

// ---- The private control interface -------------------------------------------------------
enum ZvdDeviceKind { ZVD_KIND_CAMERA = 1, ZVD_KIND_MICROPHONE = 2 };

struct ZvdPinStats {
  ULONG connected;         // 1 when the pin is connected
  ULONG streaming;         // 1 while its streaming thread exists
  ULONG samplesDelivered;  // samples accepted by the downstream pin since the last Stop->Pause
  ULONG receiveFailures;   // samples that downstream refused with a failure code
  ULONG shortBuffers;      // short samples delivered on request
  ULONG nextFrameNumber;   // frame number the next sample will carry
  LONGLONG lastStart;      // time stamp of the last delivered sample (-1: none)
};

struct ZvdMixerInput {
  WCHAR name[128];
  BOOL enabled;           // value of the last put_Enable (TRUE initially)
  double mixLevel;        // value of the last put_MixLevel (1.0 initially)
  ULONG enableCalls;      // number of put_Enable calls
  ULONG mixLevelCalls;    // number of put_MixLevel calls
};

// {66DA0FCA-A247-43CA-B6C1-642E34005572}
static const IID IID_IZelvoraDeviceControl = {
    0x66da0fca, 0xa247, 0x43ca, {0xb6, 0xc1, 0x64, 0x2e, 0x34, 0x00, 0x55, 0x72}};

#undef INTERFACE
#define INTERFACE IZelvoraDeviceControl
DECLARE_INTERFACE_(IZelvoraDeviceControl, IUnknown) {
  // IUnknown
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** ppv) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  // Kind and friendly name (the "FriendlyName" of the bag it was loaded from; the default
  // instance's name without Load). nameChars counts the buffer including the terminator.
  STDMETHOD(GetIdentity)(THIS_ ULONG* kind, WCHAR* name, ULONG nameChars) PURE;
  // EC_DEVICE_LOST through the graph's IMediaEventSink: param1 the filter's IUnknown, param2 0
  // (removed: delivery stops) or 1 (available again: delivery resumes). VFW_E_NOT_IN_GRAPH
  // outside a graph.
  STDMETHOD(SignalDeviceLost)(THIS_ BOOL availableAgain) PURE;
  // Stops (FALSE) or resumes (TRUE) delivering samples, without any event.
  STDMETHOD(SetDelivering)(THIS_ BOOL deliver) PURE;
  // The next sample of every delivering pin carries only `bytes` bytes (at least 1, less than a
  // full frame; 0 means half a frame).
  STDMETHOD(DeliverShortBuffer)(THIS_ ULONG bytes) PURE;
  // Statistics of an output pin by category (PIN_CATEGORY_CAPTURE or PIN_CATEGORY_PREVIEW).
  // E_INVALIDARG when the device has no such pin.
  STDMETHOD(GetPinStats)(THIS_ REFGUID category, ZvdPinStats* stats) PURE;
  // The capture pin's current format (what GetFormat reports); free with CoTaskMemFree of
  // pbFormat and of the record (DeleteMediaType).
  STDMETHOD(GetCurrentFormat)(THIS_ AM_MEDIA_TYPE** format) PURE;
  // The last media type given to the capture pin's SetFormat as it was passed (accepted or
  // not); S_FALSE and null when SetFormat was never called.
  STDMETHOD(GetLastSetFormat)(THIS_ AM_MEDIA_TYPE** format, HRESULT* result) PURE;
  // Microphone inputs: count, and one input's state (E_INVALIDARG for a bad index; cameras
  // have none).
  STDMETHOD(GetMixerInputCount)(THIS_ ULONG* count) PURE;
  STDMETHOD(GetMixerInput)(THIS_ ULONG index, ZvdMixerInput* input) PURE;
  // Number of IAMVideoProcAmp::Set and IAMCameraControl::Set calls this filter object received,
  // together, failed ones included (0 for microphones and cameras without the controls). Tests
  // take differences to see whether a component sent a value to the device.
  STDMETHOD(GetControlSetCount)(THIS_ ULONG* count) PURE;
};
#undef INTERFACE

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IZelvoraDeviceControl, 0x66da0fca, 0xa247, 0x43ca, 0xb6, 0xc1, 0x64, 0x2e, 0x34, 0x00, 0x55, 0x72)
#endif

// ---- Exports of zelvora_devices.dll (plain C, __stdcall, undecorated names) --------------
extern "C" {
// Live camera and microphone filters of this process, oldest first: fills up to `capacity`
// AddRef'ed pointers (the caller releases them) and sets *count to the number of live devices.
typedef HRESULT(WINAPI* ZvdGetLiveDevicesFn)(IZelvoraDeviceControl** devices, ULONG capacity, ULONG* count);
// Live COM objects of the DLL (filters, enumerators, property pages, profiles) and live
// streaming threads; both 0 when nothing of the DLL is in use.
typedef LONG(WINAPI* ZvdLiveObjectCountFn)(void);
typedef LONG(WINAPI* ZvdStreamingThreadCountFn)(void);
// Replaces the registered device instances by a named set (see above): S_OK, E_INVALIDARG for
// an unknown name, or the registry/filter mapper failure. Tests that call it hold the ctest
// RESOURCE_LOCK "registry" and restore "default" afterwards.
typedef HRESULT(WINAPI* ZvdRegisterDeviceSetFn)(LPCWSTR setName);
// Registers one extra instance (kind ZVD_KIND_CAMERA or ZVD_KIND_MICROPHONE) with the given
// instance key name, friendly name and configuration values (null: default), or removes it.
typedef HRESULT(WINAPI* ZvdRegisterDeviceFn)(ULONG kind, LPCWSTR instanceName, LPCWSTR friendlyName,
                                             LPCWSTR formats, LPCWSTR pinsOrInputs);
typedef HRESULT(WINAPI* ZvdUnregisterDeviceFn)(ULONG kind, LPCWSTR instanceName);

HRESULT WINAPI ZvdGetLiveDevices(IZelvoraDeviceControl** devices, ULONG capacity, ULONG* count);
LONG WINAPI ZvdLiveObjectCount(void);
LONG WINAPI ZvdStreamingThreadCount(void);
HRESULT WINAPI ZvdRegisterDeviceSet(LPCWSTR setName);
HRESULT WINAPI ZvdRegisterDevice(ULONG kind, LPCWSTR instanceName, LPCWSTR friendlyName, LPCWSTR formats,
                                 LPCWSTR pinsOrInputs);
HRESULT WINAPI ZvdUnregisterDevice(ULONG kind, LPCWSTR instanceName);
}

#define ZVD_DLL_NAME L"zelvora_devices.dll"

// ---- The stand-in writer -------------------------------------------------------------------
// Inputs: before ConfigureFilterUsingProfile "Video Input 01" and "Audio Input 01" (default
// streams 2 video 320x240 500000 bit/s and 1 audio 48000 bit/s); afterwards one input per
// profile stream in profile order ("Video Input NN", "Audio Input NN", "Input NN"). Video inputs
// take uncompressed video of any size, audio inputs PCM; they offer no media types. With an
// unconnected input the writer pauses but refuses to run: its Run fails with
// VFW_E_NOT_CONNECTED and, because Wine's graph manager drops that result, it also posts
// EC_ERRORABORT (param1 VFW_E_NOT_CONNECTED); no file is written.
//
// ---- The stand-in writer's output file ----------------------------------------------------
// The file named by IFileSinkFilter::SetFileName is a UTF-8 text record (not an ASF file),
// created when the graph pauses and written in full when it stops:
//   ZELVORA-ASF-STANDIN 1
//   profile default|configured
//   streams N
//   stream <number> <video|audio|other> bitrate=<bit/s> width=<px> height=<px> name="<stream name>" connection="<connection name>"
//   ... (N stream lines, in profile order; width/height 0 for audio)
//   inputs M
//   input <index> stream=<number> pin="<pin name>" connected=<0|1> subtype=<RGB24|YUY2|I420|PCM|GUID|-> width=<px> height=<px> samples=<count> bytes=<total> first=<start time|-> last=<start time|-> firstframe=<n|-> lastframe=<n|-> inorder=<0|1> eos=<0|1>
//   ... (M input lines, in pin order)
//   end
// Times are 100-ns units of the samples' start stamps; firstframe/lastframe are the frame
// numbers read (framepattern.h) from the first and last uncompressed video samples (RGB24
// bottom-up, YUY2, I420: what the decompressor delivers for an MJPG camera included), and
// inorder says every decodable frame number was larger than the one before.
// Names never contain '"' or line breaks (they are replaced by '_').
//
// ---- The stand-in decompressor ---------------------------------------------------------------
// Pins "XForm In" (accepts MEDIATYPE_Video/MEDIASUBTYPE_MJPG with FORMAT_VideoInfo, offers no
// type) and "XForm Out" (offers and accepts only RGB24, FORMAT_VideoInfo, the input's width and
// positive height: bottom-up rows, biSizeImage = height * 4-byte aligned row; once the input is
// connected). Every sample is decoded on the upstream thread in Receive and delivered downstream
// with its time stamps, media times (the cameras' frame numbers), discontinuity and preroll flags;
// the picture is the camera's pattern as framepattern.h reads it. Frames without DHT ("nodht")
// decode with the standard tables, padded samples ("jpegpad") too; a sample that does not decode
// to a picture of the format's size is dropped (Receive answers S_OK).
