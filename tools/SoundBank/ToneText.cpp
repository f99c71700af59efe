// The bank text's tones: their media (DIDX and DATA, or loose files beside the bank), markers, loops,
// envelopes, languages and prefetched first bytes.
#include <string>
#include <vector>

#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/BankTextParser.h"

namespace Tools {

namespace {

// An upper bound of a tone's bytes in DATA (header and alignment included), known before it is made.
uint64_t ToneMediaBound(const ToneDesc& tone) {
  const uint64_t sampleBytes = tone.encoding == MediaEncoding::Float32 ? 4 : 2;  // ADPCM takes less than 16-bit
  uint64_t bytes = 256 + uint64_t(tone.frames) * tone.channels * sampleBytes + kBankWriterMediaAlignment;
  for (const ToneMarker& marker : tone.markers) bytes += 48 + marker.label.size();
  return bytes;
}

}  // namespace

bool BankTextParser::ToneMedia(const std::string& name, double& ms, uint32_t& bytes, uint8_t& stream) {
  Tone* tone = FindTone(name);
  if (!tone) return Fail("tone \"" + name + "\" is not declared");
  if (!tone->language.empty())
    return Fail("tone \"" + name + "\" is a language's: a music track streams no language's file");
  if (!tone->musicTrackLine) tone->musicTrackLine = m_line;
  ms = double(tone->desc.frames) * 1000.0 / tone->desc.sampleRate;
  bytes = uint32_t(WriteToneMedia(tone->desc).size());
  stream = !tone->loose || tone->prepared ? 0 : (tone->prefetch ? 2 : 1);
  return true;
}
bool BankTextParser::AddMedia(const std::string& name, std::vector<uint8_t> bytes, uint32_t& id) {
  id = SN::SoundEngine::GetIDFromString(name.c_str());
  if (!Once(m_toneIds, id, "the media id of \"" + name + "\"")) return false;
  m_bank.media.push_back(BankMedia{id, std::move(bytes), false, {}});
  Uses(BankChunkKind::Media);
  return true;
}

bool BankTextParser::ToneLine(const std::vector<std::string>& w) {
  if (!Count(w, 6, 11)) return false;
  Tone tone;
  tone.name = w[1];
  tone.line = m_line;
  uint32_t channels = 0, ms = 0;
  if (!Number(w[2], tone.desc.sampleRate) || !Number(w[3], channels) || !Number(w[4], ms) ||
      !Real(w[5], tone.desc.frequency))
    return false;
  if (channels < 1 || channels > 8) return Fail("a tone has 1 to 8 channels");
  // Motion tones play at the motion rate (375 Hz at 48000 Hz and 1024 samples a frame).
  if (tone.desc.sampleRate < 100 || tone.desc.sampleRate > 192000) return Fail("a tone's rate is 100 to 192000");
  if (ms > 60000) return Fail("a tone lasts at most a minute");
  for (size_t i = 6; i < w.size(); ++i) {
    if (w[i] == "loose")
      tone.loose = true;
    else if (w[i] == "prepared")
      tone.loose = tone.prepared = true;
    else if (w[i] == "adpcm")
      tone.desc.encoding = MediaEncoding::ImaAdpcm;
    else if (w[i] == "float")
      tone.desc.encoding = MediaEncoding::Float32;
    else if (w[i] == "ramp")
      tone.desc.signal = ToneSignal::Ramp;
    else if (w[i] == "noise")
      tone.desc.signal = ToneSignal::Noise;
    else if (w[i] == "dc")
      tone.desc.signal = ToneSignal::Dc;
    else
      return Fail("\"" + w[i] + "\": a tone is followed by \"loose\", \"prepared\", \"adpcm\", \"float\", \"ramp\", "
                  "\"noise\" or \"dc\"");
  }
  if (tone.desc.encoding == MediaEncoding::Float32 && channels != 1) return Fail("float tones are mono");
  // A constant signal's number is its level rather than a frequency.
  if (tone.desc.signal == ToneSignal::Dc) {
    if (!(tone.desc.frequency >= -1.0f && tone.desc.frequency <= 1.0f)) return Fail("a dc tone's level is -1 to 1");
    tone.desc.level = tone.desc.frequency;
  }
  if (FindTone(tone.name)) return Fail("tone \"" + tone.name + "\" is given twice");
  // Names that differ only in case hash to one media id.
  if (!Once(m_toneIds, SN::SoundEngine::GetIDFromString(tone.name.c_str()), "the media id of tone \"" + w[1] + "\""))
    return false;
  tone.desc.channels = uint16_t(channels);
  tone.desc.frames = uint32_t(uint64_t(tone.desc.sampleRate) * ms / 1000);
  m_tones.push_back(tone);
  if (!tone.loose) Uses(BankChunkKind::Media);
  return true;
}

bool BankTextParser::Marker(const std::vector<std::string>& w) {
  if (!Count(w, 4, 5)) return false;
  Tone* tone = FindTone(w[1]);
  if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
  ToneMarker marker;
  if (!Number(w[2], marker.id) || !Number(w[3], marker.frame)) return false;
  if (w.size() == 5) marker.label = w[4];
  tone->desc.markers.push_back(marker);
  return true;
}

bool BankTextParser::MediaFaultLine(const std::vector<std::string>& w) {
  if (!Count(w, 3, 3)) return false;
  Tone* tone = FindTone(w[1]);
  if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
  if (!MediaFaultNamed(w[2], tone->desc.fault)) return Fail("\"" + w[2] + "\" is not a media fault");
  return true;
}

bool BankTextParser::Envelope(const std::vector<std::string>& w) {
  if (!Count(w, 5, kNoMost) || (w.size() - 3) % 2)
    return Fail("\"envelope\" takes a tone, a reference and frame and value pairs");
  Tone* tone = FindTone(w[1]);
  if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
  if (!Real(w[2], tone->desc.envelopeReference)) return false;
  for (size_t i = 3; i + 1 < w.size(); i += 2) {
    EnvelopePoint point;
    uint32_t value = 0;
    if (!Number(w[i], point.frame) || !Small(w[i + 1], 0xFFFF, "does not fit in 16 bits", value)) return false;
    point.attenuation = uint16_t(value);
    tone->desc.envelope.push_back(point);
  }
  return true;
}

bool BankTextParser::Speakers(const std::vector<std::string>& w) {
  if (!Count(w, 3, 3)) return false;
  Tone* tone = FindTone(w[1]);
  if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
  uint32_t mask = 0;
  if (!Number(w[2], mask)) return false;
  if (uint32_t(__builtin_popcount(mask)) != tone->desc.channels)
    return Fail("the speaker mask of tone \"" + w[1] + "\" does not name its channels");
  tone->desc.channelMask = mask;
  return true;
}

bool BankTextParser::ToneLoop(const std::vector<std::string>& w) {
  if (!Count(w, 4, 4)) return false;
  Tone* tone = FindTone(w[1]);
  if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
  if (!Number(w[2], tone->desc.loopStart) || !Number(w[3], tone->desc.loopEnd)) return false;
  tone->desc.loop = true;
  return true;
}

bool BankTextParser::Language(const std::vector<std::string>& w) {
  // The engine looks such a file up in the current language's folder under the loose files' own.
  if (!Count(w, 3, 3)) return false;
  Tone* tone = FindTone(w[1]);
  if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
  if (!tone->loose) return Fail("tone \"" + w[1] + "\" is not loose: only a file of its own is a language's");
  if (tone->musicTrackLine)
    return Fail("tone \"" + w[1] + "\" is streamed by the music track of line " +
                std::to_string(tone->musicTrackLine) + ": a music track streams no language's file");
  if (!tone->language.empty()) return Fail("tone \"" + w[1] + "\" is already a language's");
  if (w[2].size() >= 32 || w[2] == "." || w[2] == ".." || w[2].find_first_of("/\\") != std::string::npos)
    return Fail("\"" + w[2] + "\" is not a language folder (1-31 characters, no slash)");
  tone->language = w[2];
  return true;
}

bool BankTextParser::Prefetch(const std::vector<std::string>& w) {
  if (!Count(w, 3, 3)) return false;
  Tone* tone = FindTone(w[1]);
  if (!tone) return Fail("tone \"" + w[1] + "\" is not declared");
  if (!tone->loose)
    return Fail("tone \"" + w[1] + "\" is not loose: only a streamed tone has its first bytes prefetched");
  if (tone->prefetchLine)
    return Fail("the prefetch of tone \"" + w[1] + "\" is given twice (first on line " +
                std::to_string(tone->prefetchLine) + ")");
  // A music track is written whole on its line: the prefetch it streams with must come before it.
  if (tone->musicTrackLine)
    return Fail("the prefetch of tone \"" + w[1] + "\" comes after the music track of line " +
                std::to_string(tone->musicTrackLine) + " that streams it: give the prefetch first");
  if (!Number(w[2], tone->prefetch)) return false;
  if (!tone->prefetch) return Fail("a prefetch holds at least one byte");
  tone->prefetchLine = m_line;
  Uses(BankChunkKind::Media);
  return true;
}

bool BankTextParser::FinishTones() {
  uint64_t media = 0, made = 0;
  for (Tone& tone : m_tones) {
    m_line = tone.line;
    if (tone.desc.loop && (tone.desc.loopStart > tone.desc.loopEnd || tone.desc.loopEnd >= tone.desc.frames))
      return Fail("tone \"" + tone.name + "\": the loop lies outside the tone");
    // Counted before the tone is made, so that a bank too large for its sizes is never built.
    if ((!tone.loose || tone.prefetch) && (media += ToneMediaBound(tone.desc)) > kMaxMediaBytes)
      return Fail("tone \"" + tone.name + "\" takes the bank's media past 4 GiB");
    // Loose tones are made in memory beside the bank's before they are written: the same bound holds.
    if ((made += ToneMediaBound(tone.desc)) > kMaxMediaBytes)
      return Fail("tone \"" + tone.name + "\" takes the media made with the bank, loose files included, past 4 GiB");
  }
  for (Tone& tone : m_tones) {
    const uint32_t id = SN::SoundEngine::GetIDFromString(tone.name.c_str());
    m_bank.media.push_back(BankMedia{id, WriteToneMedia(tone.desc), tone.loose, tone.language});
    if (!tone.prefetch) continue;
    // The bank holds the file's first bytes under the same id: the voice plays them while its stream
    // reads the rest. They hold at least the media's header, which the voice reads first.
    m_line = tone.prefetchLine;
    const std::vector<uint8_t>& file = m_bank.media.back().bytes;
    const uint32_t header = MediaDataOffset(file);
    if (tone.prefetch > file.size())
      return Fail("the prefetch of tone \"" + tone.name + "\" is more than its " + std::to_string(file.size()) +
                  " bytes");
    if (tone.prefetch < header)
      return Fail("the prefetch of tone \"" + tone.name + "\" does not hold its header of " + std::to_string(header) +
                  " bytes");
    m_bank.media.push_back(BankMedia{id, std::vector<uint8_t>(file.begin(), file.begin() + tone.prefetch), false, {}});
  }
  return true;
}

}  // namespace Tools
