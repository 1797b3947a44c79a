// The notice of a long library load. qxctl links the library, so the
// library's attach runs before main: it probes the current printer's
// language monitor and, while the monitor's pipe is busy, waits up to
// 10 s for each of its two tries. So that this wait is not silent, a thread
// started before any shared library is initialised (the executable's
// pre-initialisation functions run first) says on standard error what qxctl
// waits for once a second has passed without main starting.
//
// Only plain POSIX objects with static initialisers are used here: the
// program's own constructors have not run when the thread starts.
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "qxctl.h"

namespace qxctl {
namespace {

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_loaded = PTHREAD_COND_INITIALIZER;
bool g_main_started = false;

constexpr char kNotice[] =
    "qxctl: waiting for the library to load: it looks for the current printer's language monitor at start-up "
    "and waits up to 10 s for each of two tries while the monitor's pipe is busy\n";

void* Watch(void*) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += 1;
  pthread_mutex_lock(&g_lock);
  int rc = 0;
  while (!g_main_started && rc != ETIMEDOUT) rc = pthread_cond_timedwait(&g_loaded, &g_lock, &deadline);
  const bool late = !g_main_started;
  pthread_mutex_unlock(&g_lock);
  // write(2), not stdio: the streams may not be set up for this thread yet.
  if (late) {
    ssize_t unused = write(STDERR_FILENO, kNotice, sizeof kNotice - 1);
    (void)unused;
  }
  return nullptr;
}

void StartWatch(int, char**, char**) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, Watch, nullptr) == 0) pthread_detach(thread);
}

__attribute__((section(".preinit_array"), used)) void (*const kStartWatch)(int, char**, char**) = StartWatch;

}  // namespace

void LibraryLoaded() {
  pthread_mutex_lock(&g_lock);
  g_main_started = true;
  pthread_cond_broadcast(&g_loaded);
  pthread_mutex_unlock(&g_lock);
}

}  // namespace qxctl
