/* A library with sixteen bytes of thread storage, loaded at run time by the leak-check test: the C
   library gives each thread its block from the heap when the thread first touches it. */
__thread void* g_kept[2];

void** TouchThreadStorage(void) { return g_kept; }
