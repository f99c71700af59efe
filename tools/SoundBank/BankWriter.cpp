// The bank writer: each chunk laid out field by field, media placed on 16-byte boundaries both in
// DATA and in the file.
#include "tools/SoundBank/BankWriter.h"

#include <cstring>

#include "tools/ContentWriters/Bytes.h"

namespace Tools {

namespace {

using ContentWriters::Put;

constexpr uint32_t kPaddingTag = 0x20444150;  // "PAD ": unknown to readers, skipped by its size

void PutChunk(std::vector<uint8_t>& out, const BankDescription& bank, uint32_t tag, const std::vector<uint8_t>& payload) {
  Put(out, tag);
  const auto declared = bank.declaredSizes.find(tag);
  Put(out, declared != bank.declaredSizes.end() ? declared->second : uint32_t(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
}

std::vector<uint8_t> SettingsPayload(const BankSettings& settings) {
  std::vector<uint8_t> out;
  Put(out, settings.volumeThreshold);
  Put(out, settings.maxVoices);
  Put(out, uint32_t(settings.stateGroups.size()));
  for (const BankStateGroup& group : settings.stateGroups) {
    Put(out, group.id);
    Put(out, group.defaultMs);
    Put(out, uint32_t(group.transitions.size()));
    for (const BankStateTransition& t : group.transitions) {
      Put(out, t.from);
      Put(out, t.to);
      Put(out, t.ms);
    }
  }
  Put(out, uint32_t(settings.switchGroups.size()));
  for (const BankSwitchGroup& group : settings.switchGroups) {
    Put(out, group.id);
    Put(out, group.parameterId);
    Put(out, group.scaling);
    Put(out, uint32_t(group.points.size()));
    for (const BankSwitchPoint& point : group.points) {
      Put(out, point.value);
      Put(out, point.switchId);
      Put(out, point.shape);
    }
  }
  Put(out, uint32_t(settings.parameters.size()));
  for (const BankParameter& parameter : settings.parameters) {
    Put(out, parameter.id);
    Put(out, parameter.defaultValue);
    Put(out, parameter.rampMode);
    Put(out, parameter.rampUp);
    Put(out, parameter.rampDown);
    Put(out, parameter.binding);
  }
  return out;
}

std::vector<uint8_t> EnvironmentPayload(const BankEnvironment& environment) {
  std::vector<uint8_t> out;
  for (const BankEnvironmentCurve& curve : environment.curves) {
    Put(out, curve.enabled);
    Put(out, curve.scaling);
    PutCurvePoints(out, curve.points);
  }
  return out;
}

std::vector<uint8_t> PlatformPayload(const std::string& platform) {
  std::vector<uint8_t> out;
  Put(out, uint32_t(platform.size()));
  out.insert(out.end(), platform.begin(), platform.end());
  return out;
}

std::vector<uint8_t> HierarchyPayload(const std::vector<BankObject>& objects) {
  std::vector<uint8_t> out;
  Put(out, uint32_t(objects.size()));
  for (const BankObject& object : objects) {
    Put(out, object.type);
    Put(out, uint32_t(object.payload.size()));
    out.insert(out.end(), object.payload.begin(), object.payload.end());
  }
  return out;
}

std::vector<uint8_t> NamesPayload(const std::vector<BankName>& names) {
  std::vector<uint8_t> out;
  Put(out, uint32_t(1));  // string kind: bank names
  Put(out, uint32_t(names.size()));
  for (const BankName& name : names) {
    Put(out, name.bankId);
    Put(out, uint8_t(name.name.size()));
    out.insert(out.end(), name.name.begin(), name.name.end());
  }
  return out;
}

// DIDX, then a padding chunk when DATA's payload would not start on a 16-byte boundary, then DATA.
void PutMedia(std::vector<uint8_t>& out, const BankDescription& bank) {
  std::vector<uint8_t> index, data;
  for (const BankMedia& media : bank.media) {
    if (media.loose) continue;
    while (data.size() % kBankWriterMediaAlignment) data.push_back(0);
    Put(index, media.id);
    Put(index, uint32_t(data.size()));
    Put(index, uint32_t(media.bytes.size()));
    data.insert(data.end(), media.bytes.begin(), media.bytes.end());
  }
  PutChunk(out, bank, 0x58444944 /* DIDX */, index);
  const size_t misplaced = (out.size() + 8) % kBankWriterMediaAlignment;
  if (misplaced) {
    // The padding chunk's own header takes 8 bytes of the distance.
    const uint32_t padding = uint32_t((2 * kBankWriterMediaAlignment - misplaced - 8) % kBankWriterMediaAlignment);
    Put(out, kPaddingTag);
    Put(out, padding);
    out.insert(out.end(), padding, uint8_t(0));
  }
  PutChunk(out, bank, 0x41544144 /* DATA */, data);
}

}  // namespace

uint32_t BankTagOf(const std::string& text) {
  uint32_t tag = 0;
  for (size_t i = 0; i < 4; ++i) tag |= uint32_t(uint8_t(i < text.size() ? text[i] : ' ')) << (8 * i);
  return tag;
}

std::vector<uint8_t> EventPayload(uint32_t eventId, const std::vector<uint32_t>& actionIds) {
  // All words: laid out at once rather than appended one by one onto an empty vector.
  std::vector<uint32_t> words{eventId, uint32_t(actionIds.size())};
  words.insert(words.end(), actionIds.begin(), actionIds.end());
  std::vector<uint8_t> out(words.size() * sizeof(uint32_t));
  memcpy(out.data(), words.data(), out.size());
  return out;
}

void PutCurvePoints(std::vector<uint8_t>& out, const std::vector<BankCurvePoint>& points) {
  Put(out, uint16_t(points.size()));
  for (const BankCurvePoint& point : points) {
    Put(out, point.x);
    Put(out, point.y);
    Put(out, point.interpolation);
  }
}

std::vector<uint8_t> WriteBank(const BankDescription& bank) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> header;
  Put(header, bank.version);
  Put(header, bank.bankId);
  Put(header, uint32_t(0));
  Put(header, bank.motionFlag);
  Put(header, uint16_t(0));
  Put(header, uint32_t(0));
  header.resize(bank.headerSize, 0);
  PutChunk(out, bank, BankTagOf(bank.headerTag), header);
  for (const BankChunkRef& chunk : bank.order) {
    switch (chunk.kind) {
      case BankChunkKind::Settings: PutChunk(out, bank, BankTagOf("STMG"), SettingsPayload(bank.settings)); break;
      case BankChunkKind::Environment:
        PutChunk(out, bank, BankTagOf("ENVS"), EnvironmentPayload(bank.environment));
        break;
      case BankChunkKind::Platform: PutChunk(out, bank, BankTagOf("PLAT"), PlatformPayload(bank.platform)); break;
      case BankChunkKind::Media: PutMedia(out, bank); break;
      case BankChunkKind::Hierarchy: PutChunk(out, bank, BankTagOf("HIRC"), HierarchyPayload(bank.objects)); break;
      case BankChunkKind::Names: PutChunk(out, bank, BankTagOf("STID"), NamesPayload(bank.names)); break;
      case BankChunkKind::Raw: {
        const BankRawChunk& raw = bank.rawChunks.at(chunk.rawIndex);
        PutChunk(out, bank, raw.tag, raw.payload);
        break;
      }
    }
  }
  out.insert(out.end(), bank.tail.begin(), bank.tail.end());
  out.resize(bank.cut < out.size() ? out.size() - bank.cut : 0);
  return out;
}

}  // namespace Tools
