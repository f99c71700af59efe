// The modulators' frame pass and the processing list it walks.
#include "SoundEngine/Modulators/ModulatorProcessor.h"

#include <new>

#include "Base/Assert.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Modulators/ModulatorGenerators.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

void CSnModulatorProcessor::Append(CSnModulatorInstance* instance) {
  instance->AddRef();
  instance->m_pNextInList = nullptr;
  if (m_pTail) m_pTail->m_pNextInList = instance; else m_pHead = instance;
  m_pTail = instance;
  ++m_count;
}

void CSnModulatorProcessor::ReleaseInactive() {
  CSnModulatorInstance* released = nullptr;  // pushed in front: the last unlinked comes first
  CSnModulatorInstance* kept = nullptr;
  for (CSnModulatorInstance* instance = m_pHead; instance;) {
    CSnModulatorInstance* next = instance->m_pNextInList;
    if (instance->IsInactive()) {
      if (kept) kept->m_pNextInList = next; else m_pHead = next;
      if (m_pTail == instance) m_pTail = kept;
      --m_count;
      instance->m_pNextInList = released;
      released = instance;
    } else {
      kept = instance;
    }
    instance = next;
  }
  while (CSnModulatorInstance* instance = released) {
    released = instance->m_pNextInList;
    instance->m_pNextInList = nullptr;
    instance->SetOutput(nullptr);
    instance->StopTarget();
    instance->Release();
  }
}

void CSnModulatorProcessor::Term() {
  while (CSnModulatorInstance* instance = m_pHead) {
    m_pHead = instance->m_pNextInList;
    instance->m_pNextInList = nullptr;
    instance->SetOutput(nullptr);
    instance->StopTarget();
    instance->Release();
  }
  m_pTail = nullptr;
  m_count = 0;
  m_oscillators.Free();
  m_envelopes.Free();
}

uint32_t CSnModulatorProcessor::ChunkCount(SnModulatorKind kind) const {
  return kind == SnModulator_Oscillator ? m_oscillators.ChunkCount() : m_envelopes.ChunkCount();
}

template <typename Job>
void CSnModulatorProcessor::Chain<Job>::Reset() {
  for (Chunk<Job>* chunk = head; chunk; chunk = chunk->next) {
    chunk->jobCount = 0;
    chunk->totalSamples = 0;
  }
  current = head;
}

template <typename Job>
void CSnModulatorProcessor::Chain<Job>::Trim() {
  // Chunks are kept while the work fills more than half of the first one.
  if (!head || head->jobCount >= kJobsPerChunk / 2) return;
  Chunk<Job>* rest = head->next;
  head->next = nullptr;
  while (rest) {
    Chunk<Job>* next = rest->next;
    if (rest->buffer) MemoryMgr::Free(g_DefaultPoolId, rest->buffer);
    PoolDelete(g_DefaultPoolId, rest);
    rest = next;
  }
  current = head;
}

template <typename Job>
void CSnModulatorProcessor::Chain<Job>::Free() {
  while (Chunk<Job>* chunk = head) {
    head = chunk->next;
    if (chunk->buffer) MemoryMgr::Free(g_DefaultPoolId, chunk->buffer);
    PoolDelete(g_DefaultPoolId, chunk);
  }
  current = nullptr;
}

template <typename Job>
uint32_t CSnModulatorProcessor::Chain<Job>::ChunkCount() const {
  uint32_t count = 0;
  for (const Chunk<Job>* chunk = head; chunk; chunk = chunk->next) ++count;
  return count;
}

template <typename Job>
CSnModulatorProcessor::Chunk<Job>* CSnModulatorProcessor::Chain<Job>::Room() {
  if (current && current->jobCount == kJobsPerChunk) {
    if (!current->next) {
      Chunk<Job>* grown = PoolNew<Chunk<Job>>(g_DefaultPoolId);
      if (!grown) return nullptr;
      current->next = grown;
    }
    current = current->next;
  }
  if (!current) {
    head = PoolNew<Chunk<Job>>(g_DefaultPoolId);
    current = head;
  }
  return current;
}

bool CSnModulatorProcessor::AddJob(CSnModulatorInstance* instance, uint32_t frameSamples) {
  const uint32_t samples = instance->SamplesPerFrameWanted() ? frameSamples : 0;
  SnModulatorOutput* output = nullptr;
  uint32_t* total = nullptr;
  if (instance->Kind() == SnModulator_Oscillator) {
    auto* oscillator = static_cast<CSnOscillatorInstance*>(instance);
    Chunk<SnOscillatorJob>* chunk = m_oscillators.Room();
    if (!chunk) return false;
    oscillator->SetUpIfChanged();
    const uint32_t index = chunk->jobCount++;
    chunk->jobs[index] = {oscillator, oscillator->Params(), instance->ElapsedSamples(), samples};
    output = &chunk->outputs[index];
    total = &chunk->totalSamples;
  } else {
    auto* envelope = static_cast<CSnEnvelopeInstance*>(instance);
    Chunk<SnEnvelopeJob>* chunk = m_envelopes.Room();
    if (!chunk) return false;
    const uint32_t index = chunk->jobCount++;
    chunk->jobs[index] = {envelope, envelope->Params(), instance->ElapsedSamples(), instance->ReleaseStart(), samples};
    output = &chunk->outputs[index];
    total = &chunk->totalSamples;
  }
  *output = SnModulatorOutput{};
  *total += samples;
  instance->SetOutput(output);
  return true;
}

template <typename Job, typename GenerateJob>
SNRESULT CSnModulatorProcessor::Generate(Chain<Job>& chain, GenerateJob generate) {
  for (Chunk<Job>* chunk = chain.head; chunk && chunk->jobCount; chunk = chunk->next) {
    if (chunk->totalSamples > chunk->bufferCapacity) {
      if (chunk->buffer) MemoryMgr::Free(g_DefaultPoolId, chunk->buffer);
      chunk->bufferCapacity = 0;
      chunk->buffer = static_cast<float*>(MemoryMgr::Malign(g_DefaultPoolId, sizeof(float) * chunk->totalSamples, 16));
      if (!chunk->buffer) {
        SOUND_LOG(Error, "Modulators: no room for a sample buffer of %u floats", chunk->totalSamples);
        return SN_Failure;
      }
      chunk->bufferCapacity = chunk->totalSamples;
    }
    float* slice = chunk->buffer;
    for (uint32_t i = 0; i < chunk->jobCount; ++i) {
      Job& job = chunk->jobs[i];
      generate(job, job.samples ? slice : nullptr, chunk->outputs[i]);
      slice += job.samples;
    }
  }
  return SN_Success;
}

SNRESULT CSnModulatorProcessor::ProcessModulators(uint32_t frameSamples) {
  m_oscillators.Reset();
  m_envelopes.Reset();
  SNRESULT result = SN_Success;
  for (CSnModulatorInstance* instance = m_pHead; instance; instance = instance->m_pNextInList) {
    // Last frame's record is about to be reused: its value and state move into the instance.
    instance->TakePreviousOutput();
    instance->SetOutput(nullptr);
    if (result != SN_Success || !instance->IsLive() || !instance->Owner()) continue;
    instance->Advance(frameSamples);
    if (!AddJob(instance, frameSamples)) {
      SOUND_LOG(Error, "Modulators: no room for a job chunk; the modulators after it keep their last values");
      result = SN_InsufficientMemory;
    }
  }
  m_oscillators.Trim();
  m_envelopes.Trim();
  // The jobs that found room still run.
  const SNRESULT walked = result;
  result = Generate(m_oscillators, [frameSamples](SnOscillatorJob& job, float* slice, SnModulatorOutput& output) {
    GenerateOscillator(job.instance->OscillatorState(), job.params, job.elapsed, frameSamples, slice, output);
  });
  if (result != SN_Success) return result;
  result = Generate(m_envelopes, [frameSamples](SnEnvelopeJob& job, float* slice, SnModulatorOutput& output) {
    GenerateEnvelope(job.params, job.releaseStart, job.elapsed, frameSamples, slice, output);
  });
  return result != SN_Success ? result : walked;
}

}  // namespace SN
