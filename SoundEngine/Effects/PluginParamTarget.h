// What the game syncs ask of an effect's plug-in parameters (subscription kind 0): its base value
// and the setter that takes a new one.
#pragma once

#include <cstdint>

namespace SN {

class ISnPluginParamTarget {
 public:
  virtual float GetParamBaseValue(uint32_t propertyId) = 0;
  virtual void SetParam(uint32_t propertyId, const void* value, uint32_t size) = 0;

 protected:
  ~ISnPluginParamTarget() = default;
};

}  // namespace SN
