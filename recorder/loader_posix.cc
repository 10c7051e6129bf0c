// recorder/loader_posix.cc: loading the real library and writing the trace on POSIX systems.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recorder/loader.h"

#if defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define KELVOREC_UNDER_ASAN 1
#  endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#  define KELVOREC_UNDER_ASAN 1
#endif

namespace rec {

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

}  // namespace rec
