// The chunk loop of a bank load: the header checked, then each chunk handed to its reader, always
// going on at the chunk's declared end. The bank manager runs it on its thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Banks/BankFormat.h"

namespace SN {

class CSnLoadedBank;
class CSnSoundBankReader;

// Reads the bank the reader is open on into `bank`. `header` receives the bank header (motion flag,
// bank id) as far as it was read, whatever the result. SN_Success, or the first failure: see
// BankFormat.h for the bank-specific results.
SNRESULT ReadBankChunks(CSnSoundBankReader& reader, CSnLoadedBank& bank, SnBankLoadMode mode, SnBankHeader& header);

// The motion flag of the bank whose chunks the calling thread is reading (its node records then carry
// a secondary output id); 0 outside a load.
uint16_t LoadingBankMotionFlag();

// The id of an in-memory bank image: the word at file offset 12, or 0 for an image under 28 bytes.
uint32_t BankIdOfImage(const void* image, uint32_t size);

// The global chunks, each given the chunk's size with its payload next in the reader. A field that
// would cross the chunk's end gives SN_InvalidFile.
namespace BankChunks {

// Volume threshold and voice limit at the bank's precedence, state groups, switch groups following a
// game parameter and game-parameter defaults. Any thread; takes the global audio lock.
SNRESULT ReadSettings(CSnSoundBankReader& reader, uint32_t size);
SNRESULT ReadEnvironmentCurves(CSnSoundBankReader& reader, uint32_t size);
SNRESULT ReadPlatform(CSnSoundBankReader& reader, uint32_t size);
SNRESULT ReadBankNames(CSnSoundBankReader& reader, CSnLoadedBank& bank, uint32_t size);

}  // namespace BankChunks
}  // namespace SN
