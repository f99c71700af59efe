// The modulator registry's frame pass: the processing list of live instances, one job per instance
// that still produces output, job chunks reused from frame to frame, and the kinds' generators run
// over each chunk's shared sample buffer. Audio thread only.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Modulators/ModulatorInstance.h"
#include "SoundEngine/Modulators/ModulatorTypes.h"

namespace SN {

struct alignas(16) SnOscillatorJob {
  CSnOscillatorInstance* instance;
  SnOscillatorParams params;
  uint64_t elapsed;
  uint32_t samples;  // in the slice; 0 when only the value is wanted
};

struct alignas(16) SnEnvelopeJob {
  CSnEnvelopeInstance* instance;
  SnEnvelopeParams params;
  uint64_t elapsed;
  uint32_t releaseStart;
  uint32_t samples;
};

class CSnModulatorProcessor {
 public:
  static constexpr uint32_t kJobsPerChunk = 16;

  CSnModulatorProcessor() = default;
  CSnModulatorProcessor(const CSnModulatorProcessor&) = delete;
  CSnModulatorProcessor& operator=(const CSnModulatorProcessor&) = delete;
  ~CSnModulatorProcessor() { Term(); }

  // The list takes a reference; instances run in the order they joined.
  void Append(CSnModulatorInstance* instance);
  // Inactive instances leave the list; then, the last to leave first, each stops what it drives and
  // loses the list's reference.
  void ReleaseInactive();
  // Every instance leaves, stopped; the job chunks go.
  void Term();

  // One frame of `frameSamples` for every live instance. SN_Success; SN_InsufficientMemory when a job
  // chunk cannot be had (the instances after it get no output); SN_Failure when a sample buffer cannot.
  SNRESULT ProcessModulators(uint32_t frameSamples);

  uint32_t Count() const { return m_count; }
  CSnModulatorInstance* Head() const { return m_pHead; }
  uint32_t ChunkCount(SnModulatorKind kind) const;

 private:
  template <typename Job>
  struct Chunk {
    Chunk* next = nullptr;
    alignas(16) Job jobs[kJobsPerChunk];
    uint32_t jobCount = 0;
    alignas(16) SnModulatorOutput outputs[kJobsPerChunk];
    uint32_t totalSamples = 0;
    uint32_t bufferCapacity = 0;
    float* buffer = nullptr;
  };
  template <typename Job>
  struct Chain {
    Chunk<Job>* head = nullptr;
    Chunk<Job>* current = nullptr;
    void Reset();
    void Trim();
    void Free();
    uint32_t ChunkCount() const;
    // The next free job and its output record; null without memory.
    Chunk<Job>* Room();
  };

  bool AddJob(CSnModulatorInstance* instance, uint32_t frameSamples);
  template <typename Job, typename Generate>
  SNRESULT Generate(Chain<Job>& chain, Generate generate);

  CSnModulatorInstance* m_pHead = nullptr;
  CSnModulatorInstance* m_pTail = nullptr;
  uint32_t m_count = 0;
  Chain<SnOscillatorJob> m_oscillators;
  Chain<SnEnvelopeJob> m_envelopes;
};

// The processing list of the bank modulators (the engine's own).
CSnModulatorProcessor* ModulatorProcessingList();

}  // namespace SN
