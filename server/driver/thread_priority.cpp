#include "server/driver/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace driver {

void RaiseToTimeCritical() {
  // The lowest real-time level already runs before every ordinary thread, and stays below the
  // kernel's own real-time threads.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return;

  // RLIMIT_NICE allows nice values down to 20 - limit.
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return;
  const long lowest = limit.rlim_cur == RLIM_INFINITY ? -20 : 20 - long(limit.rlim_cur);
  const pid_t tid = pid_t(syscall(SYS_gettid));
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, id_t(tid));
  if (errno == 0 && lowest < current) (void)setpriority(PRIO_PROCESS, id_t(tid), int(lowest < -20 ? -20 : lowest));
}

}  // namespace driver
