// Content tool: packs sound banks, streamed media and external sources into one package file.
//   SoundPack <out> [--block N] [--language name=id] [--bank id[:lang]=file] [--media id[:lang]=file]
//             [--external name[:lang]=file]
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// "key[:lang]=file" into its parts; false when there is no '='.
bool Split(const std::string& argument, std::string& key, uint32_t& language, std::string& file) {
  const size_t equals = argument.find('=');
  if (equals == std::string::npos) return false;
  key = argument.substr(0, equals);
  file = argument.substr(equals + 1);
  language = 0;
  const size_t colon = key.rfind(':');
  if (colon != std::string::npos) {
    language = uint32_t(strtoul(key.c_str() + colon + 1, nullptr, 10));
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
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--block") {
      contents.blockSize = uint32_t(strtoul(value.c_str(), nullptr, 10));
      continue;
    }
    if (option == "--language") {
      const size_t equals = value.find('=');
      if (equals == std::string::npos) return fprintf(stderr, "SoundPack: bad language \"%s\"\n", value.c_str()), 2;
      contents.languages.emplace_back(Widen(value.substr(0, equals)),
                                      uint32_t(strtoul(value.c_str() + equals + 1, nullptr, 10)));
      continue;
    }
    std::string key, file;
    uint32_t language = 0;
    std::vector<uint8_t> bytes;
    if (!Split(value, key, language, file) || !ReadFile(file, bytes)) {
      fprintf(stderr, "SoundPack: cannot read \"%s\"\n", value.c_str());
      return 2;
    }
    if (option == "--bank" || option == "--media") {
      Tools::PackagedFile packaged{uint32_t(strtoul(key.c_str(), nullptr, 10)), language, std::move(bytes)};
      (option == "--bank" ? contents.banks : contents.streamedFiles).push_back(std::move(packaged));
    } else if (option == "--external") {
      contents.externals.push_back(Tools::PackagedExternal{Widen(key), language, std::move(bytes)});
    } else {
      fprintf(stderr, "SoundPack: unknown option \"%s\"\n", option.c_str());
      return 2;
    }
  }
  if (!Tools::WritePackageFile(argv[1], contents)) {
    fprintf(stderr, "SoundPack: cannot write \"%s\"\n", argv[1]);
    return 1;
  }
  return 0;
}
