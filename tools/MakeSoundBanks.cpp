// Content tool: writes sound banks from their text descriptions.
//   MakeSoundBanks <output folder> <description>...
// Each "<Name>.<ext>" description gives "<output folder>/<Name>.bnk" (its id the hash of Name), and
// each of its loose tones "<output folder>/<id>.snm".
#include <cstdio>
#include <string>

#include "tools/SoundBank/BankText.h"
#include "tools/SoundPackage/PackageWriter.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: MakeSoundBanks <output folder> <description>...\n");
    return 2;
  }
  const std::string folder = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string path = argv[i];
    Tools::BankDescription bank;
    std::string error;
    if (!Tools::ReadBankTextFile(path, bank, error)) {
      fprintf(stderr, "MakeSoundBanks: %s\n", error.c_str());
      return 2;
    }
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    name = name.substr(0, name.find('.'));
    const std::string out = folder + "/" + name + ".bnk";
    if (!Tools::WriteBytesFile(out, Tools::WriteBank(bank))) {
      fprintf(stderr, "MakeSoundBanks: cannot write \"%s\"\n", out.c_str());
      return 1;
    }
    for (const Tools::BankMedia& media : bank.media) {
      if (!media.loose) continue;
      const std::string loose = folder + "/" + std::to_string(media.id) + ".snm";
      if (!Tools::WriteBytesFile(loose, media.bytes)) {
        fprintf(stderr, "MakeSoundBanks: cannot write \"%s\"\n", loose.c_str());
        return 1;
      }
    }
  }
  return 0;
}
