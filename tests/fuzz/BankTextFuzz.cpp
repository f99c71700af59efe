// Fuzz target of the bank builder's reader of bank descriptions: the input is a description file, read
// as MakeSoundBanks reads it, and a description it takes is laid out as a bank with its loose media, so
// that whatever numbers, names and counts a description gives reach the writers behind the reader.
#include <string>

#include "tests/fuzz/FuzzSupport.h"
#include "tools/SoundBank/BankText.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = OrvFuzz::WriteScratch(data, size, ".txt");
  Tools::BankDescription bank;
  std::string error;
  if (!Tools::ReadBankTextFile(path, bank, error)) return 0;
  Tools::WriteBank(bank);
  return 0;
}
