// recorder/loader_posix.cc: loading the real library and writing the trace on POSIX systems.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
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

intptr_t CreateTraceFile(const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) *error = strerror(errno);
    return fd;
}

bool WriteWhole(intptr_t file, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = write(static_cast<int>(file), bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace rec
