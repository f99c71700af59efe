// The contexts a switch makes and frees every time (a segment's chain, its segment context and its
// track contexts) take the blocks of those freed before, which the renderer keeps while it lives:
// no trip to the pool for either.
//
// Threads: those of the contexts (the music frame's).
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "MusicEngine/MusicRenderer.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

enum SnMusicBlockKind : uint32_t {
  SnMusicBlock_SegmentChain = 0,
  SnMusicBlock_Segment = 1,
  SnMusicBlock_Track = 2,
  SnMusicBlock_Kinds = 3
};

// Null when out of memory. Every context of `kind` is a `T`: a kept block fits the next one.
template <typename T, typename... Args>
T* NewMusicContext(SnMusicBlockKind kind, Args&&... args) {
  CSnMusicRenderer* renderer = CSnMusicRenderer::Instance();
  void* block = renderer ? renderer->TakeContextBlock(kind) : nullptr;
  if (!block) block = MemoryMgr::Malign(g_DefaultPoolId, sizeof(T), alignof(T));
  return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
}

template <typename T>
void DeleteMusicContext(SnMusicBlockKind kind, T* context) {
  context->~T();
  CSnMusicRenderer* renderer = CSnMusicRenderer::Instance();
  if (!renderer || !renderer->KeepContextBlock(kind, context)) MemoryMgr::Free(g_DefaultPoolId, context);
}

}  // namespace SN
