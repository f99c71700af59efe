// Effect definition payloads, field by field, little-endian and unpadded.
#include "tools/SoundBank/EffectWriter.h"

#include "tools/ContentWriters/Bytes.h"

namespace Tools {

using ContentWriters::Put;

std::vector<uint8_t> EffectPayload(uint32_t id, const BankEffect& effect) {
  std::vector<uint8_t> out;
  Put(out, id);
  Put(out, effect.pluginId);
  Put(out, uint32_t(effect.params.size()));
  ContentWriters::PutBytes(out, effect.params.data(), effect.params.size());
  Put(out, uint8_t(effect.media.size()));
  for (const BankEffectMedia& media : effect.media) {
    Put(out, media.index);
    Put(out, media.mediaId);
  }
  Put(out, uint16_t(effect.curves.size()));
  for (const BankEffectCurve& curve : effect.curves) {
    Put(out, curve.parameterId);
    Put(out, curve.kind);
    Put(out, curve.extra);
    Put(out, curve.pluginParamId);
    Put(out, curve.curveId);
    Put(out, curve.scaling);
    PutCurvePoints(out, curve.points);
  }
  Put(out, uint16_t(effect.properties.size()));
  for (const BankEffectProperty& property : effect.properties) {
    Put(out, property.id);
    Put(out, property.value);
  }
  return out;
}

}  // namespace Tools
