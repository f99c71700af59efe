// Package layout: the 28-byte fixed header, the four tables back to back, then each file starting
// on a block boundary (its first block is its offset divided by the block size).
#include "tools/SoundPackage/PackageWriter.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "Audio/FilePackageFormat.h"
#include "tools/FileWriter/FileWriter.h"

namespace Tools {

using namespace Audio::PackageFormat;

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  const size_t at = out.size();
  out.resize(at + 4);
  WriteU32(out.data() + at, value);
}

void PutU64(std::vector<uint8_t>& out, uint64_t value) {
  const size_t at = out.size();
  out.resize(at + 8);
  WriteU64(out.data() + at, value);
}

std::u16string Lowered(const std::u16string& text) {
  std::u16string lowered = text;
  for (char16_t& c : lowered)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return lowered;
}

struct Placed {
  uint64_t key;
  uint32_t languageId;
  const std::vector<uint8_t>* bytes;
  uint32_t firstBlock = 0;
};

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t c : text) narrow += c < 0x80 ? char(c) : '?';
  return narrow;
}

}  // namespace

std::string ContentsProblem(const PackageContents& contents) {
  char text[256];
  const uint32_t block = contents.blockSize;
  if (block == 0 || (block & (block - 1)) != 0 || block > kMaxPackageBlockSize) {
    snprintf(text, sizeof text, "block size %u is not a power of two from 1 to %u", block, kMaxPackageBlockSize);
    return text;
  }
  std::set<std::u16string> languageNames;
  std::set<uint32_t> languageIds;
  uint64_t mapBytes = 4;
  for (const auto& [name, id] : contents.languages) {
    // The reader keeps the current language in 16 bits, and 0 stands for no language.
    if (id == 0 || id > 0xFFFF) {
      snprintf(text, sizeof text, "language \"%s\" has id %u, not one from 1 to 65535", Narrow(name).c_str(), id);
      return text;
    }
    if (!languageNames.insert(Lowered(name)).second) {
      snprintf(text, sizeof text, "language \"%s\" is given twice", Narrow(name).c_str());
      return text;
    }
    if (!languageIds.insert(id).second) {
      snprintf(text, sizeof text, "language id %u is given twice", id);
      return text;
    }
    mapBytes += sizeof(LanguageEntry) + (name.size() + 1) * 2;
  }
  // Files of a language the map lacks could never be found: the current language comes from the map.
  auto languageKnown = [&](uint32_t id) { return id == 0 || languageIds.count(id) != 0; };
  uint64_t end = kFixedHeaderBytes + mapBytes + 3 + 12 +
                 (contents.banks.size() + contents.streamedFiles.size()) * sizeof(FileEntry) +
                 contents.externals.size() * sizeof(ExternalEntry);
  if (end > 0xFFFFFFFFu) return "the header would pass 4 GB";
  end = (end + block - 1) / block * block;
  auto fileProblem = [&](const char* kind, const std::string& name, uint32_t language, size_t bytes) -> std::string {
    if (!languageKnown(language)) {
      snprintf(text, sizeof text, "%s %s is of language %u, which the language map lacks", kind, name.c_str(),
               language);
      return text;
    }
    if (bytes > 0xFFFFFFFFu) {
      snprintf(text, sizeof text, "%s %s is larger than 4 GB", kind, name.c_str());
      return text;
    }
    end += (uint64_t(bytes) + block - 1) / block * block;
    return "";
  };
  const std::pair<const char*, const std::vector<PackagedFile>*> tables[2] = {{"bank", &contents.banks},
                                                                              {"media", &contents.streamedFiles}};
  for (const auto& [kind, files] : tables) {
    std::set<std::pair<uint32_t, uint32_t>> seen;
    for (const PackagedFile& file : *files) {
      const std::string name = std::to_string(file.id);
      if (!seen.insert({file.id, file.languageId}).second) {
        snprintf(text, sizeof text, "%s %s of language %u is given twice", kind, name.c_str(), file.languageId);
        return text;
      }
      if (std::string problem = fileProblem(kind, name, file.languageId, file.bytes.size()); !problem.empty())
        return problem;
    }
  }
  std::set<std::pair<uint64_t, uint32_t>> seen;
  for (const PackagedExternal& file : contents.externals) {
    // Built up in place: a quote prepended to a temporary trips the release build's overlap warning.
    std::string name = "\"";
    name += Narrow(file.name);
    name += '"';
    // Externals are found by the hash of their name alone: two names of one hash are one entry.
    if (!seen.insert({HashName64(file.name.c_str()), file.languageId}).second) {
      snprintf(text, sizeof text, "external %s of language %u is given twice (or shares its name's hash)",
               name.c_str(), file.languageId);
      return text;
    }
    if (std::string problem = fileProblem("external", name, file.languageId, file.bytes.size()); !problem.empty())
      return problem;
  }
  if (end / block > 0xFFFFFFFFu) return "the package holds more blocks than 32 bits can count";
  return "";
}

std::vector<uint8_t> WritePackage(const PackageContents& contents) {
  const uint32_t block = contents.blockSize ? contents.blockSize : 1;

  std::vector<std::pair<std::u16string, uint32_t>> languages;
  for (const auto& [name, id] : contents.languages) languages.emplace_back(Lowered(name), id);
  std::sort(languages.begin(), languages.end());
  std::vector<uint8_t> languageMap;
  PutU32(languageMap, uint32_t(languages.size()));
  uint32_t nameOffset = 4 + uint32_t(languages.size()) * sizeof(LanguageEntry);
  for (const auto& [name, id] : languages) {
    PutU32(languageMap, nameOffset);
    PutU32(languageMap, id);
    nameOffset += uint32_t(name.size() + 1) * 2;
  }
  for (const auto& language : languages) {
    for (char16_t c : language.first) {
      languageMap.push_back(uint8_t(c));
      languageMap.push_back(uint8_t(c >> 8));
    }
    languageMap.push_back(0);
    languageMap.push_back(0);
  }
  while (languageMap.size() % 4) languageMap.push_back(0);

  auto place = [](const std::vector<PackagedFile>& files) {
    std::vector<Placed> placed;
    for (const PackagedFile& file : files) placed.push_back(Placed{file.id, file.languageId, &file.bytes});
    std::sort(placed.begin(), placed.end(),
              [](const Placed& a, const Placed& b) { return a.key != b.key ? a.key < b.key : a.languageId < b.languageId; });
    return placed;
  };
  std::vector<Placed> banks = place(contents.banks);
  std::vector<Placed> streamed = place(contents.streamedFiles);
  std::vector<Placed> externals;
  for (const PackagedExternal& file : contents.externals)
    externals.push_back(Placed{HashName64(file.name.c_str()), file.languageId, &file.bytes});
  std::sort(externals.begin(), externals.end(),
            [](const Placed& a, const Placed& b) { return a.key != b.key ? a.key < b.key : a.languageId < b.languageId; });

  const uint32_t bankBytes = 4 + uint32_t(banks.size()) * sizeof(FileEntry);
  const uint32_t streamedBytes = 4 + uint32_t(streamed.size()) * sizeof(FileEntry);
  const uint32_t externalBytes = 4 + uint32_t(externals.size()) * sizeof(ExternalEntry);
  const uint32_t headerBytes = kFixedHeaderBytes + uint32_t(languageMap.size()) + bankBytes + streamedBytes + externalBytes;

  // Files follow the header, each on a block boundary.
  uint64_t offset = (headerBytes + block - 1) / block * block;
  for (std::vector<Placed>* list : {&banks, &streamed, &externals})
    for (Placed& file : *list) {
      file.firstBlock = uint32_t(offset / block);
      offset += (file.bytes->size() + block - 1) / block * block;
    }

  std::vector<uint8_t> out(kTag, kTag + 4);
  PutU32(out, headerBytes - 8);
  PutU32(out, kVersion);
  PutU32(out, uint32_t(languageMap.size()));
  PutU32(out, bankBytes);
  PutU32(out, streamedBytes);
  PutU32(out, externalBytes);
  out.insert(out.end(), languageMap.begin(), languageMap.end());
  for (std::vector<Placed>* list : {&banks, &streamed}) {
    PutU32(out, uint32_t(list->size()));
    for (const Placed& file : *list) {
      PutU32(out, uint32_t(file.key));
      PutU32(out, block);
      PutU32(out, uint32_t(file.bytes->size()));
      PutU32(out, file.firstBlock);
      PutU32(out, file.languageId);
    }
  }
  PutU32(out, uint32_t(externals.size()));
  for (const Placed& file : externals) {
    PutU64(out, file.key);
    PutU32(out, block);
    PutU32(out, uint32_t(file.bytes->size()));
    PutU32(out, file.firstBlock);
    PutU32(out, file.languageId);
  }
  for (std::vector<Placed>* list : {&banks, &streamed, &externals})
    for (const Placed& file : *list) {
      out.resize(uint64_t(file.firstBlock) * block, 0);
      out.insert(out.end(), file.bytes->begin(), file.bytes->end());
    }
  out.resize((out.size() + block - 1) / block * block, 0);
  return out;
}

bool WriteBytesFile(const std::string& path, const std::vector<uint8_t>& bytes) { return WriteFileWhole(path, bytes); }

bool WritePackageFile(const std::string& path, const PackageContents& contents) {
  return WriteBytesFile(path, WritePackage(contents));
}

}  // namespace Tools
