#pragma once
// Configuration of a device instance: capability lists and pins, parsed from the values of its
// device property bag.
#include <windows.h>
#include <strmif.h>

#include <string>
#include <vector>

#include "mediatype.h"

namespace zvd {

enum class VideoSubtype { RGB24, YUY2, I420, NV12, MJPG, MPEG2, DVSD };

struct VideoCapability {
  VideoSubtype subtype = VideoSubtype::YUY2;
  bool videoInfo2 = false;
  bool topDown = false;  // RGB24 only: a negative biHeight, rows from the top
  int width = 0, height = 0;
  REFERENCE_TIME interval = 0;     // default frame interval (100 ns)
  REFERENCE_TIME minInterval = 0;  // fastest
  REFERENCE_TIME maxInterval = 0;  // slowest
};

struct AudioCapability {
  DWORD rate = 0;
  WORD channels = 0;
  WORD bits = 0;
};

struct CameraConfig {
  std::vector<VideoCapability> formats;
  bool previewPin = false;
  // A preview pin that scales: it delivers each capture format at this size (0: it delivers the
  // capture pin's formats as they are), top-down for RGB24 when asked.
  int previewWidth = 0, previewHeight = 0;
  bool previewTopDown = false;
  std::vector<VideoCapability> previewFormats;  // filled by the camera from the above
  bool vbiPin = false;
  bool videoPortPin = false;
  // Frames: the number of the first frame of a stream, and for MJPG whether the DHT segment is
  // written and whether samples are the whole buffer (the JPEG followed by zeros).
  ULONG firstFrame = 0;
  bool jpegHuffmanTables = true;
  bool jpegPadded = false;
  // IAMVideoProcAmp and IAMCameraControl on the filter ("nocontrols" turns them off).
  bool controls = true;
};

struct MicrophoneConfig {
  std::vector<AudioCapability> formats;
  std::vector<std::wstring> inputs;
};

// The default configurations (main camera, main microphone).
extern const wchar_t kMainCameraFormats[];
extern const wchar_t kMainMicrophoneFormats[];
extern const wchar_t kDefaultMixerInputs[];

// Parsers; false (with nothing changed) for text that does not follow the documented syntax.
bool ParseCameraFormats(const std::wstring& text, std::vector<VideoCapability>* out);
bool ParseCameraPins(const std::wstring& text, CameraConfig* config);
// The capability list of a scaling preview pin: the capture list entry by entry, at the preview
// size (empty when the preview pin does not scale).
std::vector<VideoCapability> ScaledPreviewFormats(const CameraConfig& config);
bool ParseMicrophoneFormats(const std::wstring& text, std::vector<AudioCapability>* out);
bool ParseMixerInputs(const std::wstring& text, std::vector<std::wstring>* out);

// Media types and capability records.
REFERENCE_TIME IntervalOfFps(int fps);
LONG FrameBytes(const VideoCapability& cap);
const GUID& SubtypeGuid(VideoSubtype subtype);
HRESULT BuildVideoType(const VideoCapability& cap, REFERENCE_TIME interval, MediaType* out);
void BuildVideoCaps(const VideoCapability& cap, VIDEO_STREAM_CONFIG_CAPS* caps);
HRESULT BuildAudioType(const AudioCapability& cap, MediaType* out);
void BuildAudioCaps(const AudioCapability& cap, AUDIO_STREAM_CONFIG_CAPS* caps);
// The capability a media type belongs to (index), or -1; *interval gets the frame interval
// the type asks for (the capability's default for 0).
int MatchVideoType(const std::vector<VideoCapability>& caps, const AM_MEDIA_TYPE& mt, REFERENCE_TIME* interval);
int MatchAudioType(const std::vector<AudioCapability>& caps, const AM_MEDIA_TYPE& mt);

extern const GUID kSubtypeI420;
extern const GUID kSubtypeNV12;
extern const GUID kSubtypeMpeg2Video;
extern const GUID kFormatMpeg2Video;

}  // namespace zvd
