// The test binary's operator new and delete, over malloc and free: the same memory as before, with a
// count of the allocations made on each thread while a HeapCounter is armed there.
#include "tests/SoundSources/HeapCounter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local uint64_t t_allocations = 0;
thread_local int t_armed = 0;

void* Allocate(std::size_t size) noexcept {
  if (t_armed) ++t_allocations;
  return std::malloc(size ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
  void* memory = Allocate(size);
  if (!memory) throw std::bad_alloc();
  return memory;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace SourceTest {

HeapCounter::HeapCounter() : m_start(t_allocations) { ++t_armed; }
HeapCounter::~HeapCounter() { --t_armed; }
uint64_t HeapCounter::Count() const { return t_allocations - m_start; }

}  // namespace SourceTest
