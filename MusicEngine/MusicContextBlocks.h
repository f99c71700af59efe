// The contexts a switch makes and frees every time (a segment's chain, its segment context, its track
// contexts and their clips' playback instances) take the blocks of those freed before, kept as the
// voices' objects are: no trip to the pool for either.
//
// Threads: those of the contexts (the music frame's).
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "SoundEngine/Lower/Voices/KeptBlocks.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

// The kept blocks of the contexts of type `T`.
template <typename T>
CSnKeptBlocks& KeptMusicContexts() {
  static CSnKeptBlocks kept(sizeof(T), alignof(T), g_DefaultPoolId);
  return kept;
}

// Null when out of memory.
template <typename T, typename... Args>
T* NewMusicContext(Args&&... args) {
  void* block = KeptMusicContexts<T>().Take();
  return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
}

template <typename T>
void DeleteMusicContext(T* context) {
  context->~T();
  KeptMusicContexts<T>().Keep(context);
}

}  // namespace SN
