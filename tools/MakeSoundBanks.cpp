// Content tool: writes sound banks from their text descriptions.
//   MakeSoundBanks <output folder> <description>...
// Each "<Name>.<ext>" description gives "<output folder>/<Name>.bnk" (its id the hash of Name, cut at
// the last '.'), and each of its loose tones "<output folder>/<id>.snm" (a language's in
// "<output folder>/<language>/<id>.snm"). Every description is read
// before anything is written: a bad one is refused with its file and line, exit code 2 and no file.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Base/TraceLog.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

// The tool logs as the game does, Info and above: set before the engine's registrations at load run,
// which say each one at Verbose.
struct ToolLogLevelFirst {
  ToolLogLevelFirst() { Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Info); }
};
ToolLogLevelFirst g_toolLogLevelFirst __attribute__((init_priority(101)));

struct Input {
  std::string path;
  std::string name;
  Tools::BankDescription bank;
};

int Refuse(const std::string& reason) {
  fprintf(stderr, "MakeSoundBanks: %s\n", reason.c_str());
  return 2;
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (Tools::WriteBytesFile(path, bytes)) return true;
  fprintf(stderr, "MakeSoundBanks: cannot write \"%s\"\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: MakeSoundBanks <output folder> <description>...\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<Input> inputs;
  for (int i = 2; i < argc; ++i) {
    Input input{argv[i], Tools::BankNameOfPath(argv[i]), {}};
    std::string error;
    if (!Tools::ReadBankTextFile(input.path, input.bank, error)) return Refuse(error);
    // One bank id, one file: the second would overwrite the first (names differing in case hash alike).
    for (const Input& earlier : inputs)
      if (earlier.bank.bankId == input.bank.bankId)
        return Refuse(input.path + ": bank \"" + input.name + "\" is also made from " + earlier.path);
    inputs.push_back(std::move(input));
  }
  for (const Input& input : inputs) {
    if (!Write(folder + "/" + input.name + ".bnk", Tools::WriteBank(input.bank))) return 1;
    for (const Tools::BankMedia& media : input.bank.media) {
      if (!media.loose) continue;
      const std::string into = media.language.empty() ? folder : folder + "/" + media.language;
      std::error_code made;
      std::filesystem::create_directories(into, made);
      if (!Write(into + "/" + std::to_string(media.id) + ".snm", media.bytes)) return 1;
    }
  }
  return 0;
}
