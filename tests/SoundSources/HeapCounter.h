// Counts the allocations a stretch of code makes on the C++ heap (operator new), on the calling
// thread only: the audio pass takes its room from the engine's pools, never from there.
#pragma once

#include <cstdint>

namespace SourceTest {

// Counts from its construction to its end; the count is read with Count().
class HeapCounter {
 public:
  HeapCounter();
  ~HeapCounter();
  HeapCounter(const HeapCounter&) = delete;
  HeapCounter& operator=(const HeapCounter&) = delete;
  uint64_t Count() const;

 private:
  uint64_t m_start;
};

}  // namespace SourceTest
