// Content tool: packs sound banks, streamed media and external sources into one package file.
//   SoundPack <out> [--block N] [--language name=id] [--bank id[:lang]=file] [--media id[:lang]=file]
//             [--external name[:lang]=file]
// Numbers are whole decimals; anything the game could not read as meant is refused with the reason,
// exit code 2 and no file written.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/SoundPackage/PackageWriter.h"

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A whole decimal number from 0 to `max`: no sign, no spaces, nothing after the digits.
bool ParseNumber(const std::string& text, uint64_t max, uint32_t& value) {
  if (text.empty()) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + uint64_t(c - '0');
    if (number > max) return false;
  }
  value = uint32_t(number);
  return true;
}

// The tool's answer to bad arguments: the reason, nothing written, a non-zero exit.
int Refuse(const std::string& reason) {
  fprintf(stderr, "SoundPack: %s\n", reason.c_str());
  return 2;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// "key[:lang]=file" into its parts; false when there is no '=' or the language is not a number.
bool Split(const std::string& argument, std::string& key, uint32_t& language, std::string& file) {
  const size_t equals = argument.find('=');
  if (equals == std::string::npos) return false;
  key = argument.substr(0, equals);
  file = argument.substr(equals + 1);
  language = 0;
  const size_t colon = key.rfind(':');
  if (colon != std::string::npos) {
    if (!ParseNumber(key.substr(colon + 1), 0xFFFF, language)) return false;
    key.resize(colon);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: SoundPack <out> [--block N] [--language name=id] [--bank id[:lang]=file] "
                    "[--media id[:lang]=file] [--external name[:lang]=file]\n");
    return 2;
  }
  Tools::PackageContents contents;
  for (int i = 2; i < argc; i += 2) {
    const std::string option = argv[i];
    if (option != "--block" && option != "--language" && option != "--bank" && option != "--media" &&
        option != "--external")
      return Refuse("unknown option " + Quoted(option));
    if (i + 1 >= argc) return Refuse("option " + Quoted(option) + " has no value");
    const std::string value = argv[i + 1];
    if (option == "--block") {
      if (!ParseNumber(value, 0xFFFFFFFFu, contents.blockSize))
        return Refuse("bad block size " + Quoted(value) + ": a power of two is needed");
      continue;
    }
    if (option == "--language") {
      const size_t equals = value.find('=');
      uint32_t id = 0;
      if (equals == std::string::npos || equals == 0 || !ParseNumber(value.substr(equals + 1), 0xFFFF, id) || id == 0)
        return Refuse("bad language " + Quoted(value) + ": name=id, the id from 1 to 65535");
      contents.languages.emplace_back(Widen(value.substr(0, equals)), id);
      continue;
    }
    std::string key, file;
    uint32_t language = 0;
    if (!Split(value, key, language, file))
      return Refuse("bad file " + Quoted(value) + ": key[:language]=file, the language from 0 to 65535");
    uint32_t id = 0;
    if (option != "--external" && !ParseNumber(key, 0xFFFFFFFFu, id))
      return Refuse("bad id " + Quoted(key) + " in " + Quoted(value) + ": a number from 0 to 4294967295");
    std::vector<uint8_t> bytes;
    if (!ReadFile(file, bytes)) return Refuse("cannot read " + Quoted(file));
    if (option == "--external")
      contents.externals.push_back(Tools::PackagedExternal{Widen(key), language, std::move(bytes)});
    else
      (option == "--bank" ? contents.banks : contents.streamedFiles)
          .push_back(Tools::PackagedFile{id, language, std::move(bytes)});
  }
  if (const std::string problem = Tools::ContentsProblem(contents); !problem.empty())
    return Refuse(problem);
  if (!Tools::WritePackageFile(argv[1], contents)) {
    fprintf(stderr, "SoundPack: cannot write \"%s\"\n", argv[1]);
    return 1;
  }
  return 0;
}
