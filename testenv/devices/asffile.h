#pragma once
// A small ASF muxer for uncompressed streams: the stand-in WM ASF Writer's file.
//
// Plain C++ (no Windows headers): it writes through a Sink, so a native test can use it too.
// Layout written, in the order the ASF format describes:
//   Header Object { File Properties, one Stream Properties per stream, Header Extension holding
//                   an Extended Stream Properties object per video stream (its frame interval:
//                   gstreamer's ASF demuxer, which Wine's readers use, gives uncompressed
//                   pictures no frame rate without it, and its pipeline then refuses them) }
//   Data Object   { fixed-size packets: error correction data, payload parsing information with
//                   multiple payloads, each payload with replicated data (media object size and
//                   presentation time) and its offset into the media object, so that a sample
//                   larger than a packet is carried in fragments }
//   Simple Index Object for the first video stream (one entry per second), when asked for.
// Samples go to the sink as they arrive (one packet is held); Finish writes the index, then goes
// back and rewrites the header and the data object's header with the sizes, the packet count and
// the durations, which are placeholders until then.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvasf {

// Where the file goes: sequential writes and a seek back to rewrite the header.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Write(const void* data, size_t bytes) = 0;
  virtual bool SeekTo(uint64_t offset) = 0;
};

// The picture format as a BITMAPINFOHEADER holds it (compression 0: bottom-up BGR when the
// height is positive; else a FourCC such as 'YUY2' or 'I420').
struct VideoFormat {
  int32_t width = 0, height = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t imageSize = 0;
  uint64_t frameInterval = 0;  // 100-ns units; 0 when unknown
};

// A WAVEFORMATEX without extra bytes.
struct AudioFormat {
  uint16_t formatTag = 1;  // PCM
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0, avgBytesPerSec = 0;
  uint16_t blockAlign = 0, bitsPerSample = 0;
};

// What Finish wrote into the header, and what a test can compare with a reader's view.
struct Summary {
  uint64_t fileSize = 0;
  uint64_t packets = 0;
  uint64_t playDuration = 0;  // 100-ns units, preroll included (as stored)
  uint64_t sendDuration = 0;
  uint32_t indexEntries = 0;
};

class Muxer {
 public:
  static const uint32_t kPacketSize = 8192;
  static const uint32_t kPrerollMs = 3000;

  // Streams are numbered 1..127, each number once; call before Begin. Returns the stream's
  // index for AddSample, or -1.
  int AddVideoStream(unsigned number, const VideoFormat& format);
  int AddAudioStream(unsigned number, const AudioFormat& format);

  // Writes the header (with placeholders) and the data object's header. `fileId` is 16 bytes;
  // `creationTime` in 100-ns units since 1601-01-01.
  bool Begin(Sink* sink, const uint8_t fileId[16], uint64_t creationTime, bool index);
  // One media object: start and end time in 100-ns units of the stream (negative start times
  // are taken as 0). Every sample is a key frame (uncompressed).
  bool AddSample(int stream, int64_t start, int64_t stop, const uint8_t* data, size_t bytes);
  // Writes the last packet, the index and the final header. The sink is not closed.
  bool Finish(Summary* summary);

 private:
  struct Stream {
    unsigned number = 0;
    bool video = false;
    std::vector<uint8_t> typeSpecific;
    uint64_t frameInterval = 0;
    uint32_t maxObject = 0;
    uint8_t objectNumber = 0;
    uint64_t samples = 0;
  };
  struct IndexEntry {
    uint32_t packet;
    uint16_t count;
  };
  int AddStream(unsigned number, bool video, std::vector<uint8_t> typeSpecific);
  std::vector<uint8_t> Header() const;
  bool FlushPacket();
  void NoteKeyFrame(uint64_t time, uint32_t firstPacket, uint32_t lastPacket);
  bool Put(const std::vector<uint8_t>& bytes);

  std::vector<Stream> m_streams;
  Sink* m_sink = nullptr;
  bool m_ok = false;
  bool m_index = false;
  int m_indexStream = -1;
  uint8_t m_fileId[16] = {};
  uint64_t m_creationTime = 0;
  uint64_t m_written = 0;  // bytes written so far
  uint64_t m_headerBytes = 0;
  // The packet being filled.
  std::vector<uint8_t> m_packet;
  size_t m_used = 0;
  unsigned m_payloads = 0;
  uint32_t m_packetSendTime = 0;
  uint64_t m_packetCount = 0;
  uint32_t m_lastSendTime = 0;
  uint64_t m_maxEnd = 0;  // 100-ns, presentation end of the latest sample, without preroll
  uint64_t m_dataBytes = 0;
  // The simple index: one entry per second of presentation time.
  std::vector<IndexEntry> m_entries;
  bool m_haveKey = false;
  IndexEntry m_lastKey = {0, 0};
  uint16_t m_maxPacketCount = 0;
};

}  // namespace zvasf
