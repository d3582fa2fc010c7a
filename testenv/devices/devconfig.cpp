#include "devconfig.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <mmreg.h>
#include <uuids.h>

#include <stdlib.h>
#include <wctype.h>

#include <algorithm>

namespace zvd {

const wchar_t kMainCameraFormats[] =
    L"RGB24 320x240@30; YUY2 320x240@30; I420 320x240@30; "
    L"RGB24 640x480@30; YUY2 640x480@30; I420 640x480@30; "
    L"RGB24 1280x720@30; YUY2 1280x720@30; I420 1280x720@30; "
    L"RGB24 1920x1080@30; YUY2 1920x1080@30; I420 1920x1080@30; "
    L"YUY2 1920x1080@60; YUY2 640x480@15";
const wchar_t kMainMicrophoneFormats[] = L"44100/2/16; 22050/1/16; 11025/1/8; 48000/2/16";
const wchar_t kDefaultMixerInputs[] = L"Microphone;Line In;CD Audio";

// {30323449-0000-0010-8000-00AA00389B71}
const GUID kSubtypeI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// {3231564E-0000-0010-8000-00AA00389B71}
const GUID kSubtypeNV12 = {0x3231564e, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// MEDIASUBTYPE_MPEG2_VIDEO {E06D8026-DB46-11CF-B4D1-00805F6CBBEA}
const GUID kSubtypeMpeg2Video = {0xe06d8026, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};
// FORMAT_MPEG2Video {E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}
const GUID kFormatMpeg2Video = {0xe06d80e3, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};

namespace {

std::wstring Trim(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && iswspace(text[begin])) ++begin;
  while (end > begin && iswspace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    std::wstring part = Trim(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
    if (!part.empty()) parts.push_back(part);
    if (at == std::wstring::npos) break;
    start = at + 1;
  }
  return parts;
}

// A decimal number in [minimum, maximum] that fills the whole text.
bool ParseNumber(const std::wstring& text, long minimum, long maximum, long* value) {
  if (text.empty() || text.size() > 9) return false;
  for (wchar_t c : text)
    if (c < L'0' || c > L'9') return false;
  long v = wcstol(text.c_str(), nullptr, 10);
  if (v < minimum || v > maximum) return false;
  *value = v;
  return true;
}

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) { return lstrcmpiW(a.c_str(), b) == 0; }

}  // namespace

REFERENCE_TIME IntervalOfFps(int fps) { return (10000000LL + fps / 2) / fps; }

bool ParseCameraFormats(const std::wstring& text, std::vector<VideoCapability>* out) {
  std::vector<VideoCapability> caps;
  for (const std::wstring& entry : Split(text, L';')) {
    std::vector<std::wstring> words = Split(entry, L' ');
    if (words.size() < 2 || words.size() > 3) return false;
    VideoCapability cap;
    if (EqualsNoCase(words[0], L"RGB24")) cap.subtype = VideoSubtype::RGB24;
    else if (EqualsNoCase(words[0], L"YUY2")) cap.subtype = VideoSubtype::YUY2;
    else if (EqualsNoCase(words[0], L"I420")) cap.subtype = VideoSubtype::I420;
    else if (EqualsNoCase(words[0], L"NV12")) cap.subtype = VideoSubtype::NV12;
    else if (EqualsNoCase(words[0], L"MJPG")) cap.subtype = VideoSubtype::MJPG;
    else if (EqualsNoCase(words[0], L"MPEG2")) cap.subtype = VideoSubtype::MPEG2;
    else if (EqualsNoCase(words[0], L"DVSD")) cap.subtype = VideoSubtype::DVSD;
    else return false;
    if (words.size() == 3) {
      if (!EqualsNoCase(words[2], L"vih2")) return false;
      if (cap.subtype == VideoSubtype::MPEG2 || cap.subtype == VideoSubtype::DVSD) return false;
      cap.videoInfo2 = true;
    }
    // WxH@FPS[-MINFPS]
    const std::wstring& size = words[1];
    size_t x = size.find(L'x'), at = size.find(L'@');
    if (x == std::wstring::npos || at == std::wstring::npos || at < x) return false;
    long width, height, fps, minFps;
    if (!ParseNumber(size.substr(0, x), 2, 8192, &width) || !ParseNumber(size.substr(x + 1, at - x - 1), 2, 8192, &height))
      return false;
    std::wstring rate = size.substr(at + 1);
    size_t dash = rate.find(L'-');
    if (!ParseNumber(rate.substr(0, dash), 1, 1000, &fps)) return false;
    minFps = fps;
    if (dash != std::wstring::npos && (!ParseNumber(rate.substr(dash + 1), 1, 1000, &minFps) || minFps > fps))
      return false;
    // Layout limits: packed and planar YUV need even sizes.
    if ((cap.subtype == VideoSubtype::YUY2 || cap.subtype == VideoSubtype::I420) && (width % 2)) return false;
    if (cap.subtype == VideoSubtype::I420 && (height % 2)) return false;
    cap.width = static_cast<int>(width);
    cap.height = static_cast<int>(height);
    cap.interval = cap.minInterval = IntervalOfFps(static_cast<int>(fps));
    cap.maxInterval = IntervalOfFps(static_cast<int>(minFps));
    caps.push_back(cap);
  }
  if (caps.empty()) return false;
  *out = caps;
  return true;
}

bool ParseCameraPins(const std::wstring& text, CameraConfig* config) {
  bool preview = false, vbi = false, videoPort = false, topDown = false, noDht = false, padded = false;
  bool noControls = false;
  long previewWidth = 0, previewHeight = 0, first = 0;
  for (const std::wstring& word : Split(text, L' ')) {
    if (EqualsNoCase(word, L"preview")) preview = true;
    else if (EqualsNoCase(word, L"vbi")) vbi = true;
    else if (EqualsNoCase(word, L"videoport")) videoPort = true;
    else if (EqualsNoCase(word, L"topdown")) topDown = true;
    else if (EqualsNoCase(word, L"nodht")) noDht = true;
    else if (EqualsNoCase(word, L"jpegpad")) padded = true;
    else if (EqualsNoCase(word, L"nocontrols")) noControls = true;
    else if (word.size() > 6 && EqualsNoCase(word.substr(0, 6), L"first:")) {
      if (!ParseNumber(word.substr(6), 0, 65535, &first)) return false;
    } else if (word.size() > 8 && EqualsNoCase(word.substr(0, 8), L"preview:")) {
      // preview:WxH, even sizes so that every pixel format can take them.
      const size_t x = word.find(L'x', 8);
      if (x == std::wstring::npos || !ParseNumber(word.substr(8, x - 8), 2, 8192, &previewWidth) ||
          !ParseNumber(word.substr(x + 1), 2, 8192, &previewHeight) || (previewWidth % 2) || (previewHeight % 2))
        return false;
      preview = true;
    } else {
      return false;
    }
  }
  if (topDown && !previewWidth) return false;
  config->previewPin = preview;
  config->previewWidth = static_cast<int>(previewWidth);
  config->previewHeight = static_cast<int>(previewHeight);
  config->previewTopDown = topDown;
  config->vbiPin = vbi;
  config->videoPortPin = videoPort;
  config->firstFrame = static_cast<ULONG>(first);
  config->jpegHuffmanTables = !noDht;
  config->jpegPadded = padded;
  config->controls = !noControls;
  return true;
}

std::vector<VideoCapability> ScaledPreviewFormats(const CameraConfig& config) {
  std::vector<VideoCapability> scaled;
  if (!config.previewWidth) return scaled;
  for (VideoCapability cap : config.formats) {
    cap.width = config.previewWidth;
    cap.height = config.previewHeight;
    cap.topDown = config.previewTopDown && cap.subtype == VideoSubtype::RGB24;
    scaled.push_back(cap);
  }
  return scaled;
}

bool ParseMicrophoneFormats(const std::wstring& text, std::vector<AudioCapability>* out) {
  std::vector<AudioCapability> caps;
  for (const std::wstring& entry : Split(text, L';')) {
    std::vector<std::wstring> parts = Split(entry, L'/');
    long rate, channels, bits;
    if (parts.size() != 3 || !ParseNumber(parts[0], 1000, 192000, &rate) || !ParseNumber(parts[1], 1, 8, &channels) ||
        !ParseNumber(parts[2], 8, 16, &bits) || (bits != 8 && bits != 16))
      return false;
    AudioCapability cap;
    cap.rate = static_cast<DWORD>(rate);
    cap.channels = static_cast<WORD>(channels);
    cap.bits = static_cast<WORD>(bits);
    caps.push_back(cap);
  }
  if (caps.empty()) return false;
  *out = caps;
  return true;
}

bool ParseMixerInputs(const std::wstring& text, std::vector<std::wstring>* out) {
  std::vector<std::wstring> names = Split(text, L';');
  if (names.size() > 16) return false;
  for (const std::wstring& name : names)
    if (name.size() >= MAX_PIN_NAME) return false;
  *out = names;
  return true;
}

const GUID& SubtypeGuid(VideoSubtype subtype) {
  switch (subtype) {
    case VideoSubtype::RGB24: return MEDIASUBTYPE_RGB24;
    case VideoSubtype::YUY2: return MEDIASUBTYPE_YUY2;
    case VideoSubtype::I420: return kSubtypeI420;
    case VideoSubtype::NV12: return kSubtypeNV12;
    case VideoSubtype::MJPG: return MEDIASUBTYPE_MJPG;
    case VideoSubtype::MPEG2: return kSubtypeMpeg2Video;
    case VideoSubtype::DVSD: return MEDIASUBTYPE_dvsd;
  }
  return GUID_NULL;
}

LONG FrameBytes(const VideoCapability& cap) {
  const LONG w = cap.width, h = cap.height;
  switch (cap.subtype) {
    case VideoSubtype::RGB24: return ((w * 3 + 3) & ~3) * h;
    case VideoSubtype::YUY2: return w * 2 * h;
    case VideoSubtype::I420: return w * h * 3 / 2;
    case VideoSubtype::NV12: return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
    case VideoSubtype::MJPG: return w * h / 2;    // the size announced; a JPEG of the pattern is far smaller
    case VideoSubtype::MPEG2: return w * h / 4;
    case VideoSubtype::DVSD: return 120000;       // one NTSC DV frame
  }
  return 0;
}

namespace {

void FillBitmapHeader(const VideoCapability& cap, BITMAPINFOHEADER* bmi) {
  bmi->biSize = sizeof(BITMAPINFOHEADER);
  bmi->biWidth = cap.width;
  bmi->biHeight = cap.topDown ? -cap.height : cap.height;
  bmi->biPlanes = 1;
  switch (cap.subtype) {
    case VideoSubtype::RGB24:
      bmi->biBitCount = 24;
      bmi->biCompression = BI_RGB;
      break;
    case VideoSubtype::YUY2:
      bmi->biBitCount = 16;
      bmi->biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
      break;
    case VideoSubtype::I420:
      bmi->biBitCount = 12;
      bmi->biCompression = MAKEFOURCC('I', '4', '2', '0');
      break;
    case VideoSubtype::NV12:
      bmi->biBitCount = 12;
      bmi->biCompression = MAKEFOURCC('N', 'V', '1', '2');
      break;
    case VideoSubtype::MJPG:
      bmi->biBitCount = 24;
      bmi->biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
      break;
    case VideoSubtype::MPEG2:
      bmi->biBitCount = 24;
      bmi->biCompression = MAKEFOURCC('M', 'P', 'G', '2');
      break;
    case VideoSubtype::DVSD:
      bmi->biBitCount = 24;
      bmi->biCompression = MAKEFOURCC('d', 'v', 's', 'd');
      break;
  }
  bmi->biSizeImage = static_cast<DWORD>(FrameBytes(cap));
}

bool Uncompressed(VideoSubtype subtype) {
  return subtype == VideoSubtype::RGB24 || subtype == VideoSubtype::YUY2 || subtype == VideoSubtype::I420 ||
         subtype == VideoSubtype::NV12;
}

}  // namespace

HRESULT BuildVideoType(const VideoCapability& cap, REFERENCE_TIME interval, MediaType* out) {
  MediaType mt;
  AM_MEDIA_TYPE& t = mt.Get();
  t.majortype = cap.subtype == VideoSubtype::DVSD ? MEDIATYPE_Interleaved : MEDIATYPE_Video;
  t.subtype = SubtypeGuid(cap.subtype);
  t.bFixedSizeSamples = Uncompressed(cap.subtype) || cap.subtype == VideoSubtype::DVSD;
  t.bTemporalCompression = cap.subtype == VideoSubtype::MPEG2;
  t.lSampleSize = t.bFixedSizeSamples ? static_cast<ULONG>(FrameBytes(cap)) : 0;
  const RECT rect = {0, 0, cap.width, cap.height};
  const DWORD bitRate = static_cast<DWORD>(static_cast<double>(FrameBytes(cap)) * 8.0 * 1e7 / interval);
  if (cap.subtype == VideoSubtype::DVSD) {
    t.formattype = FORMAT_DvInfo;
    if (!mt.AllocFormat(sizeof(DVINFO))) return E_OUTOFMEMORY;
    DVINFO* dv = reinterpret_cast<DVINFO*>(t.pbFormat);
    dv->dwDVAAuxSrc = 0xD1C030CF;  // NTSC, 48 kHz audio
    dv->dwDVVAuxSrc = 0xFFA0F0FF;
  } else if (cap.subtype == VideoSubtype::MPEG2) {
    t.formattype = kFormatMpeg2Video;
    if (!mt.AllocFormat(sizeof(MPEG2VIDEOINFO))) return E_OUTOFMEMORY;
    MPEG2VIDEOINFO* info = reinterpret_cast<MPEG2VIDEOINFO*>(t.pbFormat);
    info->hdr.rcSource = rect;
    info->hdr.rcTarget = rect;
    info->hdr.dwBitRate = 6000000;
    info->hdr.AvgTimePerFrame = interval;
    info->hdr.dwPictAspectRatioX = 4;
    info->hdr.dwPictAspectRatioY = 3;
    FillBitmapHeader(cap, &info->hdr.bmiHeader);
    info->dwProfile = 4;  // main profile, main level
    info->dwLevel = 8;
  } else if (cap.videoInfo2) {
    t.formattype = FORMAT_VideoInfo2;
    if (!mt.AllocFormat(sizeof(VIDEOINFOHEADER2))) return E_OUTOFMEMORY;
    VIDEOINFOHEADER2* info = reinterpret_cast<VIDEOINFOHEADER2*>(t.pbFormat);
    info->rcSource = rect;
    info->rcTarget = rect;
    info->dwBitRate = bitRate;
    info->AvgTimePerFrame = interval;
    info->dwPictAspectRatioX = cap.width;
    info->dwPictAspectRatioY = cap.height;
    FillBitmapHeader(cap, &info->bmiHeader);
  } else {
    t.formattype = FORMAT_VideoInfo;
    if (!mt.AllocFormat(sizeof(VIDEOINFOHEADER))) return E_OUTOFMEMORY;
    VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat);
    info->rcSource = rect;
    info->rcTarget = rect;
    info->dwBitRate = bitRate;
    info->AvgTimePerFrame = interval;
    FillBitmapHeader(cap, &info->bmiHeader);
  }
  *out = mt;
  return S_OK;
}

void BuildVideoCaps(const VideoCapability& cap, VIDEO_STREAM_CONFIG_CAPS* caps) {
  ZeroMemory(caps, sizeof(*caps));
  if (cap.subtype == VideoSubtype::DVSD) caps->guid = FORMAT_DvInfo;
  else if (cap.subtype == VideoSubtype::MPEG2) caps->guid = kFormatMpeg2Video;
  else caps->guid = cap.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
  caps->VideoStandard = 0;  // AnalogVideo_None
  const SIZE size = {cap.width, cap.height};
  caps->InputSize = size;
  caps->MinCroppingSize = size;
  caps->MaxCroppingSize = size;
  caps->CropGranularityX = caps->CropGranularityY = 1;
  caps->CropAlignX = caps->CropAlignY = 1;
  caps->MinOutputSize = size;
  caps->MaxOutputSize = size;
  caps->OutputGranularityX = caps->OutputGranularityY = 1;
  caps->MinFrameInterval = cap.minInterval;
  caps->MaxFrameInterval = cap.maxInterval;
  const double bits = static_cast<double>(FrameBytes(cap)) * 8.0;
  caps->MinBitsPerSecond = static_cast<LONG>(bits * 1e7 / cap.maxInterval);
  caps->MaxBitsPerSecond = static_cast<LONG>(bits * 1e7 / cap.minInterval);
}

HRESULT BuildAudioType(const AudioCapability& cap, MediaType* out) {
  MediaType mt;
  AM_MEDIA_TYPE& t = mt.Get();
  t.majortype = MEDIATYPE_Audio;
  t.subtype = MEDIASUBTYPE_PCM;
  t.formattype = FORMAT_WaveFormatEx;
  t.bFixedSizeSamples = TRUE;
  if (!mt.AllocFormat(sizeof(WAVEFORMATEX))) return E_OUTOFMEMORY;
  WAVEFORMATEX* wfx = reinterpret_cast<WAVEFORMATEX*>(t.pbFormat);
  wfx->wFormatTag = WAVE_FORMAT_PCM;
  wfx->nChannels = cap.channels;
  wfx->nSamplesPerSec = cap.rate;
  wfx->wBitsPerSample = cap.bits;
  wfx->nBlockAlign = static_cast<WORD>(cap.channels * cap.bits / 8);
  wfx->nAvgBytesPerSec = cap.rate * wfx->nBlockAlign;
  wfx->cbSize = 0;
  t.lSampleSize = wfx->nBlockAlign;
  *out = mt;
  return S_OK;
}

void BuildAudioCaps(const AudioCapability& cap, AUDIO_STREAM_CONFIG_CAPS* caps) {
  ZeroMemory(caps, sizeof(*caps));
  caps->guid = MEDIATYPE_Audio;
  caps->MinimumChannels = caps->MaximumChannels = cap.channels;
  caps->ChannelsGranularity = 1;
  caps->MinimumBitsPerSample = caps->MaximumBitsPerSample = cap.bits;
  caps->BitsPerSampleGranularity = 8;
  caps->MinimumSampleFrequency = caps->MaximumSampleFrequency = cap.rate;
  caps->SampleFrequencyGranularity = 1;
}

int MatchVideoType(const std::vector<VideoCapability>& caps, const AM_MEDIA_TYPE& mt, REFERENCE_TIME* interval) {
  const BITMAPINFOHEADER* bmi = nullptr;
  REFERENCE_TIME asked = 0;
  if (!mt.pbFormat) return -1;
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    bmi = &info->bmiHeader;
    asked = info->AvgTimePerFrame;
  } else if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo2) && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const VIDEOINFOHEADER2* info = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
    bmi = &info->bmiHeader;
    asked = info->AvgTimePerFrame;
  } else if (IsEqualGUID(mt.formattype, kFormatMpeg2Video) && mt.cbFormat >= sizeof(MPEG2VIDEOINFO) - sizeof(DWORD)) {
    const MPEG2VIDEOINFO* info = reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat);
    bmi = &info->hdr.bmiHeader;
    asked = info->hdr.AvgTimePerFrame;
  } else if (!IsEqualGUID(mt.formattype, FORMAT_DvInfo) || mt.cbFormat < sizeof(DVINFO)) {
    return -1;
  }
  for (size_t i = 0; i < caps.size(); ++i) {
    const VideoCapability& cap = caps[i];
    MediaType own;
    if (FAILED(BuildVideoType(cap, cap.interval, &own))) return -1;
    if (!IsEqualGUID(own->majortype, mt.majortype) || !IsEqualGUID(own->subtype, mt.subtype) ||
        !IsEqualGUID(own->formattype, mt.formattype))
      continue;
    if (bmi) {
      // Sizes must be the capability's (bottom-up: a positive height, unless it is top-down).
      if (bmi->biWidth != cap.width || bmi->biHeight != (cap.topDown ? -cap.height : cap.height)) continue;
      REFERENCE_TIME wanted = asked ? asked : cap.interval;
      // Hosts often compute the interval as 10^7 / fps and truncate (166666 for 60 frames per
      // second where the list says 166667): one unit off a bound still asks for that bound.
      if (wanted < cap.minInterval - 1 || wanted > cap.maxInterval + 1) continue;
      wanted = std::min(std::max(wanted, cap.minInterval), cap.maxInterval);
      if (interval) *interval = wanted;
    } else if (interval) {
      *interval = cap.interval;
    }
    return static_cast<int>(i);
  }
  return -1;
}

int MatchAudioType(const std::vector<AudioCapability>& caps, const AM_MEDIA_TYPE& mt) {
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Audio) || !IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) ||
      !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX) - sizeof(WORD))
    return -1;
  if (!IsEqualGUID(mt.subtype, MEDIASUBTYPE_PCM)) return -1;
  const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
  if (wfx->wFormatTag != WAVE_FORMAT_PCM) return -1;
  for (size_t i = 0; i < caps.size(); ++i) {
    const AudioCapability& cap = caps[i];
    if (wfx->nSamplesPerSec == cap.rate && wfx->nChannels == cap.channels && wfx->wBitsPerSample == cap.bits &&
        wfx->nBlockAlign == cap.channels * cap.bits / 8)
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace zvd
