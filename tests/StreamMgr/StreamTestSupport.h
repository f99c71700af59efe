// Test helpers of sound streaming: memory, a stream manager with the game's low-level I/O over one
// blocking device, and a temporary "Sound/Banks/" tree written with the package writer.
#pragma once

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Audio/FilePackageLowLevelIO.h"
#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "StreamMgr/StreamDevice.h"
#include "StreamMgr/StreamManager.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/WaitFor.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace StreamTest {

// How the tests look files up: a bank (in the language's folder or not), or streamed media (in a
// cache slot or none).
inline SN::SnFileLookupFlags BankFlags(bool languageSpecific = false) {
  return SN::SnFileLookupFlags{0, 0, 0, nullptr, languageSpecific, false, -1};
}
inline SN::SnFileLookupFlags MediaFlags(int32_t cacheId = -1) {
  return SN::SnFileLookupFlags{0, 3, 0, nullptr, false, true, cacheId};
}

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
  return bytes;
}

inline std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Memory hooks over malloc and the platform's virtual memory, a memory manager of 20 pools.
class StreamMemory {
 public:
  StreamMemory() : previous_(SN::GetMemoryHooks()) {
    SN::SnMemoryHooks hooks;
    hooks.alloc = &malloc;
    hooks.free = &free;
    hooks.virtualAlloc = [](size_t bytes) { return Platform::VirtualAllocate(bytes); };
    hooks.virtualFree = [](void* pointer, size_t bytes) { Platform::VirtualRelease(pointer, bytes); };
    SN::SetMemoryHooks(hooks);
    SN::SnMemSettings settings{20};
    SN::MemoryMgr::Init(&settings);
  }
  ~StreamMemory() {
    SN::MemoryMgr::Term();
    SN::SetMemoryHooks(previous_);
  }

 private:
  SN::SnMemoryHooks previous_;
};

// A stream manager, the game's I/O object as resolver and hook of one blocking device, and a
// scratch "Sound/Banks/" folder with an "english" and a "french" folder.
class StreamFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orv-stream-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    banks_ = root_ + "/Sound/Banks/";
    std::filesystem::create_directories(banks_ + "english");
    std::filesystem::create_directories(banks_ + "french");
    SN::SnStreamMgrSettings settings;
    SN::StreamMgr::GetDefaultSettings(settings);
    ASSERT_NE(SN::StreamMgr::Create(settings), nullptr);
    SN::StreamMgr::GetDefaultDeviceSettings(device_);
  }
  void TearDown() override {
    io_.UnloadAllPackages();
    io_.LeaveLanguageObservers();
    if (io_.DeviceId() != SN::kInvalidDeviceId) io_.Term();
    if (SN::ISnStreamMgr::m_pStreamMgr) SN::ISnStreamMgr::m_pStreamMgr->Destroy();
    std::filesystem::remove_all(root_);
  }
  // The device with the fixture's settings and the base folder "<root>\Sound\Banks\" written with '\'.
  void StartDevice(bool deferredOpens = false) {
    ASSERT_EQ(io_.Init(device_, deferredOpens), SN::SN_Success);
    std::string folder = banks_;
    for (char& c : folder)
      if (c == '/') c = '\\';
    ASSERT_EQ(io_.SetBaseFolder(Wide(folder).c_str()), SN::SN_Success);
  }
  void WriteLoose(const std::string& relative, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(Tools::WriteBytesFile(banks_ + relative, bytes));
  }
  SN::CSnStreamDevice* Device() { return SN::StreamMgr::GetDevice(io_.DeviceId()); }
  SN::ISnStreamMgr* Manager() { return SN::ISnStreamMgr::m_pStreamMgr; }
  // Reads a whole standard stream in requests of `chunk` bytes, waiting on each (on a thread of their
  // own, so that reads that never end fail the test within the deadline).
  std::vector<uint8_t> ReadAll(SN::ISnStandardStream* stream, uint32_t chunk) {
    std::vector<uint8_t> all, buffer(chunk);
    OrvTest::WaitedThread reader([&] {
      for (;;) {
        uint32_t got = 0;
        if (stream->Read(buffer.data(), chunk, true, 50, 0.0f, got) != SN::SN_Success) break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + got);
        if (got < chunk) break;
      }
    });
    reader.Join("the waiting reads of " + std::to_string(chunk) + " bytes to reach the stream's end");
    return all;
  }

  OrvTest::LogCapture log_;
  StreamMemory memory_;
  Audio::CSnFilePackageLowLevelIOBlocking io_;
  SN::SnDeviceSettings device_{};
  std::string root_, banks_;
};

}  // namespace StreamTest
