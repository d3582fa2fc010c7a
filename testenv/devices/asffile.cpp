#include "asffile.h"

#include <algorithm>
#include <cstring>

namespace zvasf {
namespace {

struct Guid {
  uint32_t d1;
  uint16_t d2, d3;
  uint8_t d4[8];
};

// Object and type identifiers of the ASF format.
const Guid kHeaderObject = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
const Guid kDataObject = {0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
const Guid kSimpleIndexObject = {0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
const Guid kFilePropertiesObject = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kStreamPropertiesObject = {0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kHeaderExtensionObject = {0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kExtendedStreamPropertiesObject = {0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};
const Guid kReserved1 = {0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kAudioMedia = {0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
const Guid kVideoMedia = {0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
const Guid kNoErrorCorrection = {0x20FB5700, 0x5B55, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};

// Sizes of the fixed parts.
const size_t kFilePropertiesSize = 104;
const size_t kHeaderExtensionSize = 46;         // without its data
const size_t kExtendedStreamPropertiesSize = 88;  // without names, extension systems, stream object
const size_t kDataObjectHeader = 50;
const size_t kPacketHeader = 14;          // error correction (3), parsing information (10), payload flags (1)
const size_t kPayloadHeader = 17;         // stream, object number, offset, replicated length (8 bytes), length
const unsigned kMaxPayloads = 63;         // six bits of the payload flags
const uint64_t kIndexInterval = 10000000;  // one second

// Little-endian writers.
void U8(std::vector<uint8_t>& b, unsigned v) { b.push_back(static_cast<uint8_t>(v)); }
void U16(std::vector<uint8_t>& b, unsigned v) {
  U8(b, v & 0xFF);
  U8(b, (v >> 8) & 0xFF);
}
void U32(std::vector<uint8_t>& b, uint32_t v) {
  U16(b, v & 0xFFFF);
  U16(b, v >> 16);
}
void U64(std::vector<uint8_t>& b, uint64_t v) {
  U32(b, static_cast<uint32_t>(v));
  U32(b, static_cast<uint32_t>(v >> 32));
}
void PutGuid(std::vector<uint8_t>& b, const Guid& g) {
  U32(b, g.d1);
  U16(b, g.d2);
  U16(b, g.d3);
  b.insert(b.end(), g.d4, g.d4 + 8);
}
void ObjectStart(std::vector<uint8_t>& b, const Guid& g, uint64_t size) {
  PutGuid(b, g);
  U64(b, size);
}
void Poke16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Poke32(uint8_t* p, uint32_t v) {
  Poke16(p, v & 0xFFFF);
  Poke16(p + 2, v >> 16);
}

uint32_t Ms(uint64_t time100ns) { return static_cast<uint32_t>(time100ns / 10000); }

}  // namespace

int Muxer::AddStream(unsigned number, bool video, std::vector<uint8_t> typeSpecific) {
  if (m_sink || number < 1 || number > 127) return -1;
  for (const Stream& s : m_streams)
    if (s.number == number) return -1;
  Stream stream;
  stream.number = number;
  stream.video = video;
  stream.typeSpecific = std::move(typeSpecific);
  m_streams.push_back(std::move(stream));
  return static_cast<int>(m_streams.size() - 1);
}

int Muxer::AddVideoStream(unsigned number, const VideoFormat& f) {
  if (f.width <= 0 || f.height == 0) return -1;
  std::vector<uint8_t> b;
  // Video media type: encoded size, reserved flags, format data size, then the BITMAPINFOHEADER.
  U32(b, static_cast<uint32_t>(f.width));
  U32(b, static_cast<uint32_t>(f.height < 0 ? -f.height : f.height));
  U8(b, 2);
  U16(b, 40);
  U32(b, 40);
  U32(b, static_cast<uint32_t>(f.width));
  U32(b, static_cast<uint32_t>(f.height));
  U16(b, 1);  // planes
  U16(b, f.bitCount);
  U32(b, f.compression);
  U32(b, f.imageSize);
  U32(b, 0);
  U32(b, 0);
  U32(b, 0);
  U32(b, 0);
  const int index = AddStream(number, true, std::move(b));
  if (index >= 0) m_streams[index].frameInterval = f.frameInterval;
  if (index >= 0 && m_indexStream < 0) m_indexStream = index;
  return index;
}

int Muxer::AddAudioStream(unsigned number, const AudioFormat& f) {
  if (!f.channels || !f.samplesPerSec || !f.blockAlign) return -1;
  std::vector<uint8_t> b;
  U16(b, f.formatTag);
  U16(b, f.channels);
  U32(b, f.samplesPerSec);
  U32(b, f.avgBytesPerSec);
  U16(b, f.blockAlign);
  U16(b, f.bitsPerSample);
  U16(b, 0);  // no extra bytes
  return AddStream(number, false, std::move(b));
}

std::vector<uint8_t> Muxer::Header() const {
  std::vector<uint8_t> body;
  // File Properties.
  const uint64_t playDuration = m_maxEnd + uint64_t(kPrerollMs) * 10000;
  const uint64_t seconds100ns = std::max<uint64_t>(m_maxEnd, 1);
  const uint64_t bitrate = m_dataBytes * 8 * 10000000 / seconds100ns;
  ObjectStart(body, kFilePropertiesObject, kFilePropertiesSize);
  body.insert(body.end(), m_fileId, m_fileId + 16);
  U64(body, m_written);  // the file size (a placeholder until Finish)
  U64(body, m_creationTime);
  U64(body, m_packetCount);
  U64(body, playDuration);
  U64(body, uint64_t(m_lastSendTime) * 10000);
  U64(body, kPrerollMs);
  U32(body, 0x02);  // seekable, not a broadcast
  U32(body, kPacketSize);
  U32(body, kPacketSize);
  U32(body, static_cast<uint32_t>(std::min<uint64_t>(bitrate, 0xFFFFFFFFu)));
  for (const Stream& s : m_streams) {
    ObjectStart(body, kStreamPropertiesObject, 78 + s.typeSpecific.size());
    PutGuid(body, s.video ? kVideoMedia : kAudioMedia);
    PutGuid(body, kNoErrorCorrection);
    U64(body, 0);  // time offset
    U32(body, static_cast<uint32_t>(s.typeSpecific.size()));
    U32(body, 0);  // error correction data
    U16(body, s.number);
    U32(body, 0);
    body.insert(body.end(), s.typeSpecific.begin(), s.typeSpecific.end());
  }
  std::vector<uint8_t> extension;
  for (const Stream& s : m_streams) {
    if (!s.video) continue;
    ObjectStart(extension, kExtendedStreamPropertiesObject, kExtendedStreamPropertiesSize);
    U64(extension, 0);                        // start time
    U64(extension, playDuration / 10000);     // end time, ms
    U32(extension, static_cast<uint32_t>(std::min<uint64_t>(bitrate, 0xFFFFFFFFu)));
    U32(extension, kPrerollMs);               // buffer size (ms)
    U32(extension, 0);                        // initial buffer fullness
    U32(extension, 0);                        // alternate bitrate, buffer size and fullness
    U32(extension, kPrerollMs);
    U32(extension, 0);
    U32(extension, s.maxObject);
    U32(extension, 0x02);                     // seekable
    U16(extension, s.number);
    U16(extension, 0);                        // language index
    U64(extension, s.frameInterval);
    U16(extension, 0);                        // no stream names
    U16(extension, 0);                        // no payload extension systems
  }
  ObjectStart(body, kHeaderExtensionObject, kHeaderExtensionSize + extension.size());
  PutGuid(body, kReserved1);
  U16(body, 6);
  U32(body, static_cast<uint32_t>(extension.size()));
  body.insert(body.end(), extension.begin(), extension.end());

  std::vector<uint8_t> header;
  ObjectStart(header, kHeaderObject, 30 + body.size());
  U32(header, static_cast<uint32_t>(m_streams.size() + 2));
  U8(header, 1);
  U8(header, 2);
  header.insert(header.end(), body.begin(), body.end());
  // Data Object header.
  ObjectStart(header, kDataObject, kDataObjectHeader + m_packetCount * kPacketSize);
  header.insert(header.end(), m_fileId, m_fileId + 16);
  U64(header, m_packetCount);
  U16(header, 0x0101);
  return header;
}

bool Muxer::Put(const std::vector<uint8_t>& bytes) {
  if (!m_sink->Write(bytes.data(), bytes.size())) m_ok = false;
  m_written += bytes.size();
  return m_ok;
}

bool Muxer::Begin(Sink* sink, const uint8_t fileId[16], uint64_t creationTime, bool index) {
  if (!sink || m_sink || m_streams.empty()) return false;
  m_sink = sink;
  m_ok = true;
  m_index = index && m_indexStream >= 0;
  memcpy(m_fileId, fileId, 16);
  m_creationTime = creationTime;
  const std::vector<uint8_t> header = Header();
  m_headerBytes = header.size();
  m_packet.assign(kPacketSize, 0);
  return Put(header);
}

bool Muxer::FlushPacket() {
  if (!m_payloads) return m_ok;
  uint8_t* p = m_packet.data();
  const size_t padding = kPacketSize - m_used;
  memset(p + m_used, 0, padding);
  p[0] = 0x82;  // error correction present, two bytes of it, no opaque data
  p[1] = p[2] = 0;
  p[3] = 0x11;  // multiple payloads; padding length as a WORD; no sequence, no packet length
  p[4] = 0x5D;  // replicated data length BYTE, offset DWORD, media object number BYTE, stream BYTE
  Poke16(p + 5, static_cast<unsigned>(padding));
  Poke32(p + 7, m_packetSendTime);
  Poke16(p + 11, 0);  // duration
  p[13] = static_cast<uint8_t>(0x80 | m_payloads);  // payload lengths as WORDs
  if (!m_sink->Write(p, kPacketSize)) m_ok = false;
  m_written += kPacketSize;
  ++m_packetCount;
  m_used = 0;
  m_payloads = 0;
  return m_ok;
}

void Muxer::NoteKeyFrame(uint64_t time, uint32_t firstPacket, uint32_t lastPacket) {
  // Entry n names the last key frame presented at or before n seconds (the first key frame for
  // the times before it).
  const IndexEntry entry = {firstPacket, static_cast<uint16_t>(std::min<uint32_t>(lastPacket - firstPacket + 1, 0xFFFF))};
  while (uint64_t(m_entries.size()) * kIndexInterval < time) m_entries.push_back(m_haveKey ? m_lastKey : entry);
  m_lastKey = entry;
  m_haveKey = true;
  m_maxPacketCount = std::max(m_maxPacketCount, entry.count);
}

bool Muxer::AddSample(int index, int64_t start, int64_t stop, const uint8_t* data, size_t bytes) {
  if (!m_ok || index < 0 || index >= static_cast<int>(m_streams.size()) || bytes > 0xFFFFFFFFu) return false;
  Stream& stream = m_streams[index];
  const uint64_t begin = start > 0 ? static_cast<uint64_t>(start) : 0;
  const uint64_t end = stop > start && stop > 0 ? static_cast<uint64_t>(stop) : begin;
  const uint32_t presentation = Ms(begin) + kPrerollMs;
  const uint32_t sendTime = std::max(m_lastSendTime, Ms(begin));
  uint32_t firstPacket = 0;
  size_t offset = 0;
  for (;;) {
    size_t room = m_payloads ? kPacketSize - m_used : kPacketSize - kPacketHeader;
    // A new packet when this one is full, or has too little room left for a useful fragment.
    if (m_payloads == kMaxPayloads || room < kPayloadHeader + std::min<size_t>(bytes - offset, 64) + 1) {
      if (!FlushPacket()) return false;
      continue;
    }
    if (!m_payloads) {
      m_used = kPacketHeader;
      m_packetSendTime = sendTime;
      m_lastSendTime = sendTime;
    }
    if (offset == 0) firstPacket = static_cast<uint32_t>(m_packetCount);
    const size_t chunk = std::min(bytes - offset, room - kPayloadHeader);
    std::vector<uint8_t> head;
    U8(head, 0x80 | stream.number);  // key frame
    U8(head, stream.objectNumber);
    U32(head, static_cast<uint32_t>(offset));
    U8(head, 8);
    U32(head, static_cast<uint32_t>(bytes));
    U32(head, presentation);
    U16(head, static_cast<unsigned>(chunk));
    memcpy(m_packet.data() + m_used, head.data(), head.size());
    if (chunk) memcpy(m_packet.data() + m_used + head.size(), data + offset, chunk);
    m_used += head.size() + chunk;
    ++m_payloads;
    offset += chunk;
    if (offset >= bytes) break;
  }
  if (m_index && index == m_indexStream)
    NoteKeyFrame(begin + uint64_t(kPrerollMs) * 10000, firstPacket, static_cast<uint32_t>(m_packetCount));
  ++stream.objectNumber;
  ++stream.samples;
  stream.maxObject = std::max(stream.maxObject, static_cast<uint32_t>(bytes));
  m_dataBytes += bytes;
  m_maxEnd = std::max(m_maxEnd, end);
  return m_ok;
}

bool Muxer::Finish(Summary* summary) {
  if (!m_sink) return false;
  FlushPacket();
  if (m_index && m_haveKey) {
    const uint64_t last = m_maxEnd + uint64_t(kPrerollMs) * 10000;
    while (uint64_t(m_entries.size()) * kIndexInterval <= last) m_entries.push_back(m_lastKey);
    std::vector<uint8_t> b;
    ObjectStart(b, kSimpleIndexObject, 56 + 6 * uint64_t(m_entries.size()));
    b.insert(b.end(), m_fileId, m_fileId + 16);
    U64(b, kIndexInterval);
    U32(b, m_maxPacketCount);
    U32(b, static_cast<uint32_t>(m_entries.size()));
    for (const IndexEntry& e : m_entries) {
      U32(b, e.packet);
      U16(b, e.count);
    }
    Put(b);
  }
  // The header again, now with the sizes and durations; it is as long as the placeholder.
  const std::vector<uint8_t> header = Header();
  if (header.size() != m_headerBytes || !m_sink->SeekTo(0) || !m_sink->Write(header.data(), header.size())) m_ok = false;
  if (summary) {
    summary->fileSize = m_written;
    summary->packets = m_packetCount;
    summary->playDuration = m_maxEnd + uint64_t(kPrerollMs) * 10000;
    summary->sendDuration = uint64_t(m_lastSendTime) * 10000;
    summary->indexEntries = static_cast<uint32_t>(m_entries.size());
  }
  m_sink = nullptr;
  const bool ok = m_ok;
  m_ok = false;  // nothing more goes into this file
  return ok;
}

}  // namespace zvasf
