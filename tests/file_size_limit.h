// A simulated full disk for tests: files may grow only to a given size while the object lives.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace qm::test {

// A longer write fails as on a full disk (the signal that would end the program is ignored
// meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, signal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    sighandler_t signal_{};
};

}  // namespace qm::test
