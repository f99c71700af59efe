// A second model of the random playlist draws, written from the selection rules apart from the
// engine's code, for the tests to hold the engine's choices against.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <numeric>
#include <vector>

namespace MusicModel {

// The 15-bit generator as its description gives it, stepped apart from the engine's.
struct ModelRand {
  uint32_t state;
  uint32_t Next() {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
  }
};

// One random group's draws, written from the selection rules: candidates, the count or weight draw,
// the avoid-repeat history and shuffle passes; a pass with nothing left to draw starts the next.
struct ModelRandomGroup {
  std::vector<uint64_t> weights;
  bool weighted = false;
  bool shuffle = false;
  uint32_t avoid = 0;
  std::vector<bool> played, blocked;
  std::deque<size_t> history;
  uint64_t total = 0, remaining = 0;
  size_t selectable = 0, left = 0;

  ModelRandomGroup(std::vector<uint64_t> w, bool weights_, bool shuffle_, uint32_t avoid_)
      : weights(std::move(w)), weighted(weights_), shuffle(shuffle_), avoid(avoid_) {
    played.assign(weights.size(), false);
    blocked.assign(weights.size(), false);
    total = remaining = weighted ? std::accumulate(weights.begin(), weights.end(), uint64_t(0))
                                 : 50000ull * weights.size();
    selectable = left = weights.size();
  }
  bool Candidate(size_t i) const { return shuffle ? !played[i] && !blocked[i] : avoid == 0 || !blocked[i]; }
  void NewPass() {
    left = weights.size();
    played.assign(weights.size(), false);
    selectable = weights.size();
    if (shuffle) {
      remaining = total;
      for (size_t h : history) remaining -= weights[h];
    }
    selectable -= std::min(selectable, history.size());
  }
  long Draw(ModelRand& rng) {
    if (!weighted) {
      if (selectable == 0) return -1;
      const uint32_t r = rng.Next() % selectable;
      long counted = -1;
      for (size_t i = 0; i < weights.size(); ++i)
        if (Candidate(i) && ++counted == long(r)) return long(i);
      return -1;
    }
    if (remaining == 0) return -1;
    const uint64_t high = rng.Next();
    const int64_t r = int64_t(((high << 15) + rng.Next()) % remaining);
    int64_t sum = -1;
    for (size_t i = 0; i < weights.size(); ++i)
      if (Candidate(i) && (sum += int64_t(weights[i])) >= r) return long(i);
    return -1;
  }
  size_t Pick(ModelRand& rng) {
    if (left == 0) NewPass();
    long chosen = Draw(rng);
    if (chosen < 0) {
      NewPass();
      chosen = Draw(rng);
    }
    const size_t i = size_t(chosen);
    const size_t n = weights.size();
    if (!shuffle) {
      if (!played[i]) played[i] = true, --left;
      if (avoid == 0) return i;
      --selectable;
      history.push_back(i);
      blocked[i] = true;
      remaining -= weights[i];
      while (history.size() > std::min<size_t>(avoid, n - 1)) {
        blocked[history.front()] = false;
        remaining += weights[history.front()];
        ++selectable;
        history.pop_front();
      }
      return i;
    }
    remaining -= weights[i];
    --selectable;
    --left;
    played[i] = true;
    history.push_back(i);
    blocked[i] = true;
    while (history.size() > std::min<size_t>(avoid ? avoid : 1, n - 1)) {
      const size_t oldest = history.front();
      history.pop_front();
      blocked[oldest] = false;
      if (!played[oldest]) remaining += weights[oldest], ++selectable;
    }
    return i;
  }
};

}  // namespace MusicModel
