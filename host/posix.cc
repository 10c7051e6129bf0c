// host/posix.cc: the virtual scanner's and the recording library's operating-system calls on POSIX systems.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "host/host.h"

namespace host {

const char* LibraryPath() noexcept {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryDirectory), &info) == 0 || info.dli_fname == nullptr) {
        return "";
    }
    return info.dli_fname;
}

std::string LibraryDirectory() {
    const std::string path = LibraryPath();
    if (path.empty()) return "";
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
    if (fd < 0) {
        const int error = errno;
        file.problem = error == ELOOP ? "a symbolic link, never followed" : std::strerror(error);
        if (error == EACCES || error == EROFS) fd = open(path.c_str(), O_RDONLY | common);   // read-only
    }
    if (fd < 0) return StateFileStatus::kFailed;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        file.problem = "not a regular file";
        close(fd);
        return StateFileStatus::kFailed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        file.problem = std::strerror(errno);
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

// O_NONBLOCK: a FIFO without a writer or a device cannot hang the open; fstat then refuses
// anything but a regular file, for which O_NONBLOCK changes nothing. A link is followed: a
// link to an FPGA file is an FPGA file.
bool OpenInputFile(const char* path, intptr_t& handle, uint64_t& bytes, const char** problem) noexcept {
    handle = -1;
    bytes = 0;
    const char* ignored = "";
    const char*& why = problem != nullptr ? *problem : ignored;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = strerror(errno);
        return false;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = kNotARegularFile;
        close(fd);
        return false;
    }
    handle = fd;
    bytes = static_cast<uint64_t>(status.st_size);
    return true;
}

int64_t ReadInputFile(intptr_t handle, uint8_t* data, size_t count) noexcept {
    for (;;) {
        const ssize_t n = read(static_cast<int>(handle), data, count);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

void CloseInputFile(intptr_t handle) noexcept {
    if (handle >= 0) close(static_cast<int>(handle));
}

}  // namespace host

// ---- the recorder ---------------------------------------------------------------------

#if defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define KELVOREC_UNDER_ASAN 1
#  endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#  define KELVOREC_UNDER_ASAN 1
#endif

namespace host {

void* OpenLibrary(const std::string& path, std::string* error) {
    // The real library carries our SONAME, so it is opened by path. Deep binding makes its
    // calls to its own exported names stay inside it instead of landing in the recorder;
    // AddressSanitizer refuses deep binding, and the virtual scanner does not need it.
    int flags = RTLD_NOW | RTLD_LOCAL;
#if defined(RTLD_DEEPBIND) && !defined(KELVOREC_UNDER_ASAN)
    flags |= RTLD_DEEPBIND;
#endif
    void* library = dlopen(path.c_str(), flags);
    if (library == nullptr) {
        const char* reason = dlerror();
        *error = reason != nullptr ? reason : "unknown error";
    }
    return library;
}

void* FindOperation(void* library, const char* name, unsigned, std::string*) { return dlsym(library, name); }

intptr_t CreateTraceFile(const std::string& path, std::string* error, bool* busy) {
    *busy = false;
    // Not O_TRUNC: the file is emptied only once the lock shows that no recording writes it.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = errno == ELOOP ? "it is a symbolic link" : errno == ENXIO ? "it is not a regular file" : strerror(errno);
        return -1;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        *error = "it is not a regular file";
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *busy = errno == EWOULDBLOCK;
        *error = *busy ? "another recording is writing it" : strerror(errno);
        close(fd);
        return -1;
    }
    if (ftruncate(fd, 0) != 0) {
        *error = strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

bool WriteAt(intptr_t file, uint64_t offset, const uint8_t* bytes, size_t count, std::string* error) {
    while (count > 0) {
        const ssize_t written = pwrite(static_cast<int>(file), bytes, count, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            *error = written < 0 ? strerror(errno) : "nothing was written";
            return false;
        }
        bytes += written;
        offset += static_cast<uint64_t>(written);
        count -= static_cast<size_t>(written);
    }
    return true;
}

bool Truncate(intptr_t file, uint64_t size) { return ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0; }

uint64_t ProcessId() { return static_cast<uint64_t>(getpid()); }

}  // namespace host
