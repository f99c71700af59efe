// The address-sanitized builds' runtime defaults, linked into every executable that has the platform
// layer: the game, the tools and every test binary.
#if defined(__SANITIZE_ADDRESS__)

// The leak checker would otherwise record each block of dynamic thread storage (the TLS of a library
// loaded at run time, such as the software GL driver's LLVM) when a thread first uses it, and this
// runtime guesses the block's extent: a block that starts 16 bytes into a page is taken to have a header
// of the C library's in front of it. Ours come from the sanitizer's own allocator, whose chunk header
// sits there instead, so whenever the heap happens to place a block so the checker scans a bogus range
// at exit and dies ("Tracer caught signal 11"), though every test passed. The blocks are ordinary heap
// chunks that the thread's own block list points to, so the checker still finds what they hold without
// recording them; leak checking stays on for everything else.
extern "C" const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }

#endif
