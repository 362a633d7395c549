// Making the kernel refuse new threads for a while, for tests of what happens
// when no worker can be started: no mock, the thread layer's real failure path.
#pragma once

#include <string>
#include <sys/resource.h>

// While one lives, cloning a thread fails with EAGAIN: the process may run no
// more tasks than it has (RLIMIT_NPROC 1). The kernel exempts root, so a root
// process gives its real uid to "nobody" and CAP_SYS_RESOURCE and
// CAP_SYS_ADMIN leave the calling thread's effective set; everything is
// restored when the object goes. Make and drop it on the thread that is to
// be refused.
class ThreadRefusal {
  public:
    ThreadRefusal();
    ~ThreadRefusal();
    ThreadRefusal(const ThreadRefusal&) = delete;
    ThreadRefusal& operator=(const ThreadRefusal&) = delete;

    // Empty when a plain pthread_create is refused now; otherwise why not.
    const std::string& failure() const { return failure_; }

  private:
    std::string failure_;
    rlimit saved_limit_{};
    bool was_root_ = false;
    unsigned saved_effective_[2] = {0, 0};
};
