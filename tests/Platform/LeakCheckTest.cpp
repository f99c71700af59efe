// The leak checker of the address-sanitized builds over thread storage that the C library hands out at
// run time: it ends cleanly wherever the heap puts such a block, and still sees what the block holds.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__)

// Where the heap's sixteen-byte blocks went while it was laid out: kept, so they are no leak.
std::vector<void*> g_layout;

// In a process of its own: opens the library, lays the heap out so that the thread's block of that
// library's storage starts 16 bytes into a page, keeps an allocation only there, and runs the leak check.
// Exits 0 when the check ends and finds nothing, 1 when it finds a leak, 3 when the layout failed.
[[noreturn]] void CheckWithBlockSixteenBytesIntoAPage() {
  void* library = dlopen(ORV_DYNAMIC_TLS_MODULE, RTLD_NOW);
  auto touch = reinterpret_cast<void** (*)()>(library ? dlsym(library, "TouchThreadStorage") : nullptr);
  if (!touch) std::_Exit(3);
  // Chunks of one size come from the allocator in address order: stop where the next one (the block, of
  // the same size) begins 16 bytes into a page.
  g_layout.reserve(1 << 16);
  for (size_t i = 0; i < g_layout.capacity(); ++i) {
    g_layout.push_back(std::malloc(16));
    if ((reinterpret_cast<uintptr_t>(g_layout.back()) + 32) % 4096 == 16) break;
  }
  void** block = touch();
  if (reinterpret_cast<uintptr_t>(block) % 4096 != 16) std::_Exit(3);
  block[0] = std::malloc(100);  // reachable only through the block
  std::_Exit(__lsan_do_recoverable_leak_check() == 0 ? 0 : 1);
}

TEST(LeakCheckTest, ThreadStorageOfALibraryOpenedAtRunTimeIsScannedWhereverTheHeapPutsIt) {
  // A fresh process: the layout does not depend on what ran before, and a checker that dies takes only it.
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CheckWithBlockSixteenBytesIntoAPage(), ::testing::ExitedWithCode(0), "");
  GTEST_FLAG_SET(death_test_style, style);
}

#else

TEST(LeakCheckTest, ThreadStorageOfALibraryOpenedAtRunTimeIsScannedWhereverTheHeapPutsIt) {
  GTEST_SKIP() << "only the address-sanitized build checks for leaks";
}

#endif

}  // namespace
