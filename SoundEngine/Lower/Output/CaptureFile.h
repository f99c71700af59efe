// One output device's capture: a RIFF WAVE file of 16-bit PCM written through the stream manager,
// with both sizes left open until the file is closed and the markers written after the data as
// "cue " and "LIST"/"adtl" chunks. Audio thread only.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"

namespace SN {

class ISnStandardStream;

constexpr uint32_t kCaptureHeaderBytes = 46;

class CSnCaptureFile {
 public:
  // Opens the file and writes the header; null when the stream or the header write fails.
  static CSnCaptureFile* Create(const char16_t* fileName, uint16_t channels, uint32_t sampleRate,
                                uint16_t bitsPerSample, uint16_t formatTag);

  // Appends frame data; the count of data bytes grows only by what was written.
  SNRESULT PassSampleData(const void* data, uint32_t size);
  // A marker at the frames written so far; a second one at the same frame joins the first's label.
  SNRESULT AddMarker(const char* text);
  // Writes the markers, patches and rewrites the header, closes the stream and frees the object.
  SNRESULT Close();

  uint32_t DataBytes() const { return m_dataBytes; }

  // Made by Create and freed by Close only; public for the pool's placement helpers.
  CSnCaptureFile() = default;
  ~CSnCaptureFile();

 private:
  struct Marker {
    uint32_t id;
    uint32_t position;  // sample frames from the beginning of the data
    char* label;        // default pool, terminated
  };

  SNRESULT WriteData(const void* data, uint32_t size);
  void FreeMarkers();

  // The file's first bytes exactly, written at open and again at close.
  uint8_t m_header[kCaptureHeaderBytes] = {};
  static_assert(sizeof(m_header) == 46, "the RIFF, fmt and data headers of a 16-bit PCM file");
  SnArray<Marker> m_markers;
  uint32_t m_lastMarkerId = 0;
  uint32_t m_dataBytes = 0;
  ISnStandardStream* m_pStream = nullptr;
};

}  // namespace SN
