// The property table of the hierarchy nodes.
#include "SoundEngine/Hierarchy/PropertyTable.h"

namespace SN {

uint32_t ParameterOfProperty(uint32_t propertyId) {
  switch (propertyId) {
    case 0: return 0;
    case 2: return 2;
    case 3: return 3;
    case 4: return 4;
    case 6: return 8;
    case 8: return 29;
    case 9: return 30;
    case 11: return 20;
    case 12: return 21;
    case 13: return 11;
    case 18: case 19: case 20: case 21: return 56 + (propertyId - 18);
    case 22: return 19;
    case 23: return 60;
    case 24: return 61;
    case 25: return 62;
    case 32: return 35;
    case 33: return 36;
    case 47: return 39;
    case 48: return 40;
    case 59: return 6;
    default: return kNoParameter;
  }
}

int32_t IntPropertyDefault(uint32_t propertyId) {
  switch (propertyId) {
    case 40: case 41: case 43: return 1;
    case 44: return 7;
    case 45: return 60;
    case 46: return 1;
    case 50: case 52: return 127;
    case 53: return 65535;
    case 57: return -1;
    case 58: return 1;
    default: return 0;
  }
}

bool IsIntProperty(uint32_t propertyId) { return (propertyId >= 40 && propertyId <= 53) || propertyId == 57 || propertyId == 58; }

}  // namespace SN
