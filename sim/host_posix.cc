// sim/host_posix.cc: the virtual scanner's operating-system calls on POSIX systems.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "sim/host.h"

namespace sim {

std::string LibraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryDirectory), &info) == 0 || info.dli_fname == nullptr) {
        return "";
    }
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

uint64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void SleepNs(uint64_t nanoseconds) {
    timespec pause{static_cast<time_t>(nanoseconds / 1000000000u),
                   static_cast<long>(nanoseconds % 1000000000u)};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

// SIGINT, which the program's handler takes as Ctrl-C.
bool RaiseStopRequest(std::string* error) {
    if (kill(getpid(), SIGINT) == 0) return true;
    *error = strerror(errno);
    return false;
}

// O_NOFOLLOW: a link planted at the name is refused, not followed to some other file.
// O_NONBLOCK: a FIFO or device at the name cannot hang the open. flock, not fcntl locks: an
// fcntl lock would vanish when any other descriptor of the file in this process is closed.
StateFileStatus OpenStateFile(const std::string& path, StateFile& file) {
    file = StateFile{};
    const int common = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | common, 0666);
    bool writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = open(path.c_str(), O_RDONLY | common);
    if (fd < 0) return StateFileStatus::kFailed;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return StateFileStatus::kFailed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? StateFileStatus::kBusy : StateFileStatus::kFailed;
    }
    file.handle = fd;
    file.writable = writable;
    return StateFileStatus::kOpen;
}

size_t ReadStateFile(const StateFile& file, uint8_t* data, size_t count) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = pread(static_cast<int>(file.handle), data + got, count - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

bool WriteStateFile(const StateFile& file, uint64_t offset, const uint8_t* data, size_t count) {
    if (!file.writable) return false;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = pwrite(static_cast<int>(file.handle), data + done, count - done,
                                 static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void CloseStateFile(StateFile& file) {
    if (file.handle >= 0) close(static_cast<int>(file.handle));
    file = StateFile{};
}

}  // namespace sim
