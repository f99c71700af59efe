/* Preloaded into the game by its stop's tests: a thread of the process, started as it loads, that runs
   for ever once the file "spin" is in the process's folder, as a worker's loop that never ends. The
   stop signals are the game's main thread's: this thread has every signal blocked. */
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

static void* SpinOnFile(void* unused) {
  (void)unused;
  while (access("spin", F_OK) != 0) usleep(10000);
  for (volatile int on = 1; on;) {
  }
  return 0;
}

__attribute__((constructor)) static void StartSpinner(void) {
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  pthread_t thread;
  if (pthread_create(&thread, 0, SpinOnFile, 0) == 0) pthread_detach(thread);
  pthread_sigmask(SIG_SETMASK, &previous, 0);
}
