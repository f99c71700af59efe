// The capture file: header image, frame data, markers and the closing patch.
#include "SoundEngine/Lower/Output/CaptureFile.h"

#include <cstring>
#include <new>

#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {
namespace {

constexpr uint32_t kOpenSize = 0xFFFFFFFFu;
constexpr uint32_t kRiffSizeOffset = 4;
constexpr uint32_t kDataSizeOffset = 42;
// The RIFF size counts everything after its own field up to the data: "WAVE", fmt chunk, data header.
constexpr uint32_t kRiffSizeBeforeData = 38;

void Put16(uint8_t* at, uint16_t value) { std::memcpy(at, &value, 2); }
void Put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }
void PutTag(uint8_t* at, const char* tag) { std::memcpy(at, tag, 4); }

uint32_t LabelBytes(const char* label) { return uint32_t(std::strlen(label)) + 1; }

}  // namespace

CSnCaptureFile* CSnCaptureFile::Create(const char16_t* fileName, uint16_t channels, uint32_t sampleRate,
                                       uint16_t bitsPerSample, uint16_t formatTag) {
  ISnStreamMgr* streams = ISnStreamMgr::m_pStreamMgr;
  if (!fileName || !streams) return nullptr;
  CSnCaptureFile* file = PoolNew<CSnCaptureFile>(g_DefaultPoolId);
  if (!file) return nullptr;
  uint8_t* h = file->m_header;
  const uint16_t blockAlign = uint16_t(channels * bitsPerSample / 8);
  PutTag(h, "RIFF");
  Put32(h + kRiffSizeOffset, kOpenSize);
  PutTag(h + 8, "WAVE");
  PutTag(h + 12, "fmt ");
  Put32(h + 16, 18);
  Put16(h + 20, formatTag);
  Put16(h + 22, channels);
  Put32(h + 24, sampleRate);
  Put32(h + 28, uint32_t(blockAlign) * sampleRate);
  Put16(h + 32, blockAlign);
  Put16(h + 34, bitsPerSample);
  Put16(h + 36, 0);
  PutTag(h + 38, "data");
  Put32(h + kDataSizeOffset, kOpenSize);

  SnFileLookupFlags flags{0, 1, 0, nullptr, false, false, -1};
  ISnStandardStream* stream = nullptr;
  SNRESULT result = streams->OpenStandardStream(fileName, &flags, SnOpenMode_WriteOverwrite, stream, true);
  if (result == SN_Success && stream) {
    uint32_t written = 0;
    result = stream->Write(h, kCaptureHeaderBytes, true, 100, 0.0f, written);
    if (result == SN_Success && written != kCaptureHeaderBytes) result = SN_Failure;
    if (result != SN_Success) {
      stream->Destroy();
      stream = nullptr;
    }
  }
  if (result != SN_Success || !stream) {
    SOUND_LOG(Warning, "Output capture: the capture file could not be opened and written (result %d)", int(result));
    PoolDelete(g_DefaultPoolId, file);
    return nullptr;
  }
  file->m_pStream = stream;
  return file;
}

CSnCaptureFile::~CSnCaptureFile() {
  FreeMarkers();
  if (m_pStream) m_pStream->Destroy();
}

void CSnCaptureFile::FreeMarkers() {
  for (uint32_t i = 0; i < m_markers.Count(); ++i) MemoryMgr::Free(g_DefaultPoolId, m_markers[i].label);
  m_markers.Term();
}

SNRESULT CSnCaptureFile::WriteData(const void* data, uint32_t size) {
  if (!m_pStream) return SN_Failure;
  uint32_t written = 0;
  const SNRESULT result = m_pStream->Write(const_cast<void*>(data), size, true, 0, 0.0f, written);
  return result == SN_Success && written == size ? SN_Success : SN_Failure;
}

SNRESULT CSnCaptureFile::PassSampleData(const void* data, uint32_t size) {
  const SNRESULT result = WriteData(data, size);
  if (result == SN_Success) m_dataBytes += size;
  return result;
}

SNRESULT CSnCaptureFile::AddMarker(const char* text) {
  if (!m_pStream) return SN_Failure;
  if (!text) text = "";
  uint16_t blockAlign;
  std::memcpy(&blockAlign, m_header + 32, 2);
  const uint32_t position = blockAlign ? m_dataBytes / blockAlign : 0;
  const size_t textBytes = std::strlen(text);
  if (m_markers.Count() && m_markers[m_markers.Count() - 1].position == position) {
    Marker& last = m_markers[m_markers.Count() - 1];
    const size_t oldBytes = std::strlen(last.label);
    auto* joined = static_cast<char*>(MemoryMgr::Malloc(g_DefaultPoolId, oldBytes + textBytes + 1));
    if (!joined) return SN_InsufficientMemory;
    std::memcpy(joined, last.label, oldBytes);
    std::memcpy(joined + oldBytes, text, textBytes + 1);
    MemoryMgr::Free(g_DefaultPoolId, last.label);
    last.label = joined;
    return SN_Success;
  }
  auto* copy = static_cast<char*>(MemoryMgr::Malloc(g_DefaultPoolId, textBytes + 1));
  if (!copy) return SN_InsufficientMemory;
  std::memcpy(copy, text, textBytes + 1);
  if (!m_markers.Add(Marker{m_lastMarkerId + 1, position, copy})) {
    MemoryMgr::Free(g_DefaultPoolId, copy);
    return SN_InsufficientMemory;
  }
  ++m_lastMarkerId;
  return SN_Success;
}

SNRESULT CSnCaptureFile::Close() {
  uint32_t markerBytes = 0;
  const uint32_t count = m_markers.Count();
  if (count && m_pStream) {
    uint8_t chunk[24];
    PutTag(chunk, "cue ");
    Put32(chunk + 4, 4 + 24 * count);
    Put32(chunk + 8, count);
    WriteData(chunk, 12);
    uint32_t listBytes = 4;
    for (uint32_t i = 0; i < count; ++i) {
      const Marker& marker = m_markers[i];
      Put32(chunk, marker.id);
      Put32(chunk + 4, marker.position);
      PutTag(chunk + 8, "data");
      Put32(chunk + 12, 0);
      Put32(chunk + 16, 0);
      Put32(chunk + 20, marker.position);
      WriteData(chunk, 24);
      const uint32_t length = LabelBytes(marker.label);
      listBytes += 12 + length + (length & 1);
    }
    PutTag(chunk, "LIST");
    Put32(chunk + 4, listBytes);
    WriteData(chunk, 8);
    WriteData("adtl", 4);
    for (uint32_t i = 0; i < count; ++i) {
      const Marker& marker = m_markers[i];
      const uint32_t length = LabelBytes(marker.label);
      PutTag(chunk, "labl");
      Put32(chunk + 4, 4 + length);
      Put32(chunk + 8, marker.id);
      WriteData(chunk, 12);
      WriteData(marker.label, length);
      if (length & 1) WriteData("", 1);
    }
    // From the markers, not from what the writes reported.
    markerBytes = 12 + 24 * count + 8 + listBytes;
  }
  Put32(m_header + kDataSizeOffset, m_dataBytes);
  Put32(m_header + kRiffSizeOffset, kRiffSizeBeforeData + m_dataBytes + markerBytes);

  SNRESULT result = SN_Failure;
  if (m_pStream) {
    result = m_pStream->SetPosition(0, SnMove_Begin, nullptr);
    if (result == SN_Success) result = WriteData(m_header, kCaptureHeaderBytes);
    m_pStream->Destroy();
    m_pStream = nullptr;
  }
  PoolDelete(g_DefaultPoolId, this);
  return result;
}

}  // namespace SN
