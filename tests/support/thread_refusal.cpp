#include "tests/support/thread_refusal.h"

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr uid_t NOBODY = 65534;
constexpr unsigned EXEMPTING = (1U << CAP_SYS_RESOURCE) | (1U << CAP_SYS_ADMIN);

// The calling thread's capability sets (two words each).
bool capabilities(__user_cap_data_struct (&data)[2], bool write) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(write ? SYS_capset : SYS_capget, &header, data) == 0;
}

void* nothing(void*) {
    return nullptr;
}

} // namespace

ThreadRefusal::ThreadRefusal() {
    getrlimit(RLIMIT_NPROC, &saved_limit_);
    was_root_ = getuid() == 0;
    if (was_root_) {
        __user_cap_data_struct data[2]{};
        if (!capabilities(data, false) || setresuid(NOBODY, -1, -1) != 0) {
            failure_ = std::string("cannot give up root: ") + std::strerror(errno);
            return;
        }
        saved_effective_[0] = data[0].effective;
        saved_effective_[1] = data[1].effective;
        data[0].effective &= ~EXEMPTING;
        capabilities(data, true);
    }
    rlimit one = saved_limit_;
    one.rlim_cur = 1;
    if (setrlimit(RLIMIT_NPROC, &one) != 0) {
        failure_ = std::string("cannot lower RLIMIT_NPROC: ") + std::strerror(errno);
        return;
    }
    pthread_t probe;
    if (pthread_create(&probe, nullptr, nothing, nullptr) == 0) {
        pthread_join(probe, nullptr);
        failure_ = "the kernel still starts threads (a capability this test cannot drop?)";
    }
}

ThreadRefusal::~ThreadRefusal() {
    setrlimit(RLIMIT_NPROC, &saved_limit_);
    if (was_root_) {
        __user_cap_data_struct data[2]{};
        capabilities(data, false);
        data[0].effective = saved_effective_[0];
        data[1].effective = saved_effective_[1];
        capabilities(data, true);
        setresuid(0, -1, -1);
    }
}
