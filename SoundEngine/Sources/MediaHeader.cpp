// The media header parser: a bounded little-endian walk over the chunks, every count and offset held
// to the chunk that carries it.
#include "SoundEngine/Sources/MediaHeader.h"

#include <cstring>

#include "SoundEngine/Log.h"
#include "SoundEngine/Sources/MarkerList.h"

namespace SN {

namespace {

constexpr uint32_t Tag(const char (&t)[5]) {
  return uint32_t(uint8_t(t[0])) | uint32_t(uint8_t(t[1])) << 8 | uint32_t(uint8_t(t[2])) << 16 |
         uint32_t(uint8_t(t[3])) << 24;
}

template <class T>
T Read(const uint8_t* at) {
  T value;
  memcpy(&value, at, sizeof value);
  return value;
}

// The two words of a cue point the engine takes, of its 24 bytes.
struct CuePoint {
  uint32_t id;
  uint32_t position;
  uint32_t chunk;
  uint32_t chunkStart;
  uint32_t blockStart;
  uint32_t sampleOffset;
};
static_assert(sizeof(CuePoint) == 24, "a cue point is 24 bytes in the file");

constexpr uint32_t kSmplLoopCountAt = 28;
constexpr uint32_t kSmplSamplerDataAt = 32;
constexpr uint32_t kSmplLoopsAt = 36;
constexpr uint32_t kSmplLoopRecordBytes = 24;
constexpr uint32_t kAkdHeaderBytes = 16;
constexpr uint32_t kAkdPointBytes = 6;
constexpr uint32_t kFmtBytesRead = 24;

}  // namespace

SNRESULT ReadWaveFormat(const SnMediaChunk& fmt, SnWaveFormat& format) {
  format = SnWaveFormat{};
  if (!fmt.data || fmt.size < kFmtBytesRead) return SN_MalformedMedia;
  format.formatTag = Read<uint16_t>(fmt.data);
  format.channels = Read<uint16_t>(fmt.data + 2);
  format.sampleRate = Read<uint32_t>(fmt.data + 4);
  format.blockAlign = Read<uint16_t>(fmt.data + 12);
  format.bitsPerSample = Read<uint16_t>(fmt.data + 14);
  format.channelMask = Read<uint32_t>(fmt.data + 20);
  return SN_Success;
}

SNRESULT CheckWaveFormat(const SnWaveFormat& f) {
  const char* fault = nullptr;
  if (f.channels == 0 || f.channels > 255)
    fault = "its channel count";
  else if (f.sampleRate == 0)
    fault = "a sample rate of 0";
  else if (f.formatTag == kWaveFormatImaAdpcm && f.blockAlign != kAdpcmBlockBytes * f.channels)
    fault = "an ADPCM block align that is not 36 bytes a channel";
  else if (f.formatTag == kWaveFormatExtensible && f.bitsPerSample != 16 && f.bitsPerSample != 32)
    fault = "a bit depth other than 16 and 32";
  else if (f.formatTag == kWaveFormatExtensible && f.bitsPerSample == 32 && f.channels != 1)
    fault = "float samples in interleaved channels";
  else if (f.formatTag == kWaveFormatExtensible && f.blockAlign != f.channels * (f.bitsPerSample / 8))
    fault = "a block align that is not one frame";
  if (!fault) return SN_Success;
  SOUND_LOG(Error, "Media refused for %s: format tag 0x%04X, %u channels, %u Hz, block align %u, %u bits", fault,
            unsigned(f.formatTag), unsigned(f.channels), unsigned(f.sampleRate), unsigned(f.blockAlign),
            unsigned(f.bitsPerSample));
  return SN_MalformedMedia;
}

SNRESULT ParseMediaHeader(const uint8_t* data, uint32_t size, SnMediaChunk& fmt, CSnMarkerList* markers,
                          uint32_t& loopBegin, uint32_t& loopEnd, uint32_t& dataSize, uint32_t& dataOffset,
                          SnMediaChunk* akd, SnMediaChunk* seek) {
  if (!data || size == 0) return SN_InvalidParameter;
  loopBegin = loopEnd = 0;
  fmt = SnMediaChunk{};
  if (size < 12 || Read<uint32_t>(data) != Tag("RIFF")) return SN_MalformedMedia;
  const uint32_t form = Read<uint32_t>(data + 8);
  if (form != Tag("WAVE") && form != Tag("XWMA")) return SN_MalformedMedia;

  bool fmtSeen = false, cueDone = false;
  uint32_t at = 12;
  while (size - at >= 8) {
    const uint32_t tag = Read<uint32_t>(data + at);
    const uint32_t chunkSize = Read<uint32_t>(data + at + 4);
    const uint32_t body = at + 8;
    const uint32_t left = size - body;
    if (tag == Tag("data")) {
      if (!fmtSeen) return SN_MalformedMedia;
      dataSize = chunkSize;
      dataOffset = body;
      return SN_Success;
    }
    if (left < chunkSize) return SN_IncompleteHeader;
    const uint8_t* chunk = data + body;

    if (tag == Tag("fmt ")) {
      if (!fmtSeen) {
        if (chunkSize < kFmtBytesRead) return SN_MalformedMedia;
        fmt = SnMediaChunk{chunkSize, chunk};
        fmtSeen = true;
      }
    } else if (tag == Tag("cue ")) {
      if (!fmtSeen) return SN_MalformedMedia;
      if (chunkSize < 4) return SN_MalformedMedia;
      const uint32_t count = Read<uint32_t>(chunk);
      if (uint64_t(count) * sizeof(CuePoint) > chunkSize - 4) return SN_MalformedMedia;
      if (!cueDone && markers) {
        const SNRESULT r = markers->Allocate(count);
        if (r != SN_Success) return r;
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* point = chunk + 4 + size_t(i) * sizeof(CuePoint);
          (*markers)[i].id = Read<uint32_t>(point);
          (*markers)[i].position = Read<uint32_t>(point + 4);
        }
        cueDone = true;
      }
    } else if (tag == Tag("labl")) {
      if (chunkSize < 4) return SN_MalformedMedia;
      if (cueDone && markers && markers->Count()) {
        const uint32_t id = Read<uint32_t>(chunk);
        for (uint32_t i = 0; i < markers->Count(); ++i) {
          if ((*markers)[i].id != id) continue;
          const char* text = reinterpret_cast<const char*>(chunk + 4);
          const uint32_t length = uint32_t(strnlen(text, chunkSize - 4));
          (void)markers->SetLabel(i, text, length);  // without memory the marker keeps no label
          break;
        }
      }
    } else if (tag == Tag("smpl")) {
      if (chunkSize < kSmplLoopsAt) return SN_MalformedMedia;
      const uint32_t loops = Read<uint32_t>(chunk + kSmplLoopCountAt);
      if (loops) {
        const uint64_t record = uint64_t(kSmplLoopsAt) + Read<uint32_t>(chunk + kSmplSamplerDataAt);
        if (record + kSmplLoopRecordBytes > chunkSize) return SN_MalformedMedia;
        loopBegin = Read<uint32_t>(chunk + record + 8);
        loopEnd = Read<uint32_t>(chunk + record + 12);
      }
    } else if (tag == Tag("akd ")) {
      if (chunkSize < kAkdHeaderBytes) return SN_MalformedMedia;
      const uint32_t points = Read<uint32_t>(chunk + 8);
      if (uint64_t(points) * kAkdPointBytes > chunkSize - kAkdHeaderBytes) return SN_MalformedMedia;
      if (akd) *akd = SnMediaChunk{chunkSize, chunk};
    } else if (tag == Tag("seek")) {
      if (seek) *seek = SnMediaChunk{chunkSize, chunk};
    }

    // A "LIST" is entered: its sub-chunks are read as if they stood at top level.
    uint32_t advance = chunkSize;
    if (tag == Tag("LIST")) {
      if (chunkSize < 4) return SN_MalformedMedia;
      advance = 4;
    }
    at = body + advance;
    if ((advance & 1) && at < size && data[at] == 0) ++at;
  }
  return SN_IncompleteHeader;
}

}  // namespace SN
