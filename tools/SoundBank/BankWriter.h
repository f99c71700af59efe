// Writes sound banks (".bnk"): the bank header, the global settings, environment curves, platform,
// media index and data, hierarchy objects and bank names, in the order a description gives, with the
// deliberate faults that make the malformed corpus.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Tools {

struct BankStateTransition {
  uint32_t from = 0, to = 0, ms = 0;
};
struct BankStateGroup {
  uint32_t id = 0;
  uint32_t defaultMs = 0;
  std::vector<BankStateTransition> transitions;
};
// Stored as twelve bytes {f32 value, u32 switch id, u32 shape}.
struct BankSwitchPoint {
  float value = 0.0f;
  uint32_t switchId = 0;
  uint32_t shape = 0;
};
struct BankSwitchGroup {
  uint32_t id = 0;
  uint32_t parameterId = 0;
  uint8_t scaling = 0;
  std::vector<BankSwitchPoint> points;
};
struct BankParameter {
  uint32_t id = 0;
  float defaultValue = 0.0f;
  uint32_t rampMode = 0;
  float rampUp = 0.0f, rampDown = 0.0f;
  uint8_t binding = 0;  // 0 none
};
struct BankSettings {
  float volumeThreshold = -96.0f;
  uint16_t maxVoices = 256;
  std::vector<BankStateGroup> stateGroups;
  std::vector<BankSwitchGroup> switchGroups;
  std::vector<BankParameter> parameters;
};

struct BankCurvePoint {
  float x = 0.0f, y = 0.0f;
  uint32_t interpolation = 0;
};
struct BankEnvironmentCurve {
  uint8_t enabled = 0;
  uint8_t scaling = 0;
  std::vector<BankCurvePoint> points;
};
// Group-major: group 0 curves 0 to 2, then group 1.
struct BankEnvironment {
  BankEnvironmentCurve curves[6];
};

struct BankMedia {
  uint32_t id = 0;
  std::vector<uint8_t> bytes;
  bool loose = false;  // written beside the bank as "<id>.snm", not into it
  std::string language;  // a loose file's language folder beside the bank, "<language>/<id>.snm"
};

// A hierarchy object; the payload begins with the object's id.
struct BankObject {
  uint8_t type = 0;
  std::vector<uint8_t> payload;
};

struct BankName {
  uint32_t bankId = 0;
  std::string name;
};

enum class BankChunkKind { Settings, Environment, Platform, Media, Hierarchy, Names, Raw };

struct BankChunkRef {
  BankChunkKind kind = BankChunkKind::Raw;
  size_t rawIndex = 0;
};

struct BankRawChunk {
  uint32_t tag = 0;
  std::vector<uint8_t> payload;
};

struct BankDescription {
  uint32_t bankId = 0;
  std::string headerTag = "BKHD";
  uint32_t version = 113;
  uint32_t headerSize = 20;  // the header chunk's payload; bytes past 20 are zero
  uint16_t motionFlag = 0;
  std::string platform;
  BankSettings settings;
  BankEnvironment environment;
  std::vector<BankMedia> media;
  std::vector<BankObject> objects;
  std::vector<BankName> names;
  std::vector<BankRawChunk> rawChunks;
  // The chunks after the header, in file order; Media writes DIDX, a padding chunk when needed and
  // DATA.
  std::vector<BankChunkRef> order;
  // Faults: a tag's declared size replaced, bytes added after the last chunk, bytes cut off the end.
  std::map<uint32_t, uint32_t> declaredSizes;
  std::vector<uint8_t> tail;
  uint32_t cut = 0;
};

constexpr uint32_t kBankWriterMediaAlignment = 16;

// Four characters as the word a bank stores.
uint32_t BankTagOf(const std::string& text);

std::vector<uint8_t> WriteBank(const BankDescription& bank);
// A curve's u16 point count and its 12-byte points, as environment and node curves store them.
void PutCurvePoints(std::vector<uint8_t>& out, const std::vector<BankCurvePoint>& points);
// Event payload: id, action count, action ids in play order.
std::vector<uint8_t> EventPayload(uint32_t eventId, const std::vector<uint32_t>& actionIds);

}  // namespace Tools
