// plan/spool_posix.cc: the spool's per-OS part on Linux and the other POSIX systems.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "plan/spool.h"

namespace plan {

std::string DefaultOutbox() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return std::string(data) + "/kelvotest/outbox";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr && *home ? home : ".") + "/.local/share/kelvotest/outbox";
}

bool SyncToDisk(const std::string& path, bool folder, std::string* error) {
    const int fd = ::open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_WRONLY) | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    // A folder on a file system that cannot sync one (some network shares) answers EINVAL:
    // its entries then reach the server with the rename itself.
    const bool ok = ::fsync(fd) == 0 || (folder && (errno == EINVAL || errno == ENOTSUP));
    if (!ok) *error = "cannot flush " + path + " to the disk: " + std::strerror(errno);
    ::close(fd);
    return ok;
}

}  // namespace plan
