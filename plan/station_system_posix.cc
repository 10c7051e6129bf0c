// POSIX: the station lock is flock(2) on a file in the data folder, which the kernel drops
// with the last descriptor, so a killed kelvotest-plan never leaves its station locked. The
// descriptor is close-on-exec: a step's tool, or a process it leaves behind, never holds it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "plan/station_system.h"

namespace plan {

std::string DataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return std::string(data) + "/kelvotest";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/share/kelvotest";
    return "";
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

long ProcessId() { return static_cast<long>(getpid()); }

FileLock::~FileLock() { Release(); }

FileLock::Result FileLock::Take(const std::string& path, std::string* error) {
    Release();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return Result::kFailed;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int why = errno;
        close(fd);
        if (why == EWOULDBLOCK) return Result::kBusy;
        *error = path + ": cannot be locked: " + std::strerror(why);
        return Result::kFailed;
    }
    handle_ = fd;
    return Result::kTaken;
}

bool FileLock::WriteNote(const std::string& text) {
    const int fd = static_cast<int>(handle_);
    if (fd < 0 || ftruncate(fd, 0) != 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void FileLock::Release() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
    handle_ = -1;
}

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

std::optional<std::string> ReadInputLine() {
    // read(2) a byte at a time: nothing beyond the line is taken from the input, so that a
    // script's next line is there for the next question. The interrupt handler is installed
    // without SA_RESTART, so a Ctrl-C ends the wait with EINTR.
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0) return std::nullopt;
        if (n == 0) {
            if (line.empty()) return std::nullopt;
            break;
        }
        if (c == '\n') break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace plan
