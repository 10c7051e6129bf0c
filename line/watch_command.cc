// line/watch_command.cc: `kelvotest-line watch [--db URL] [--once] SPOOL`: stores what arrives
// in SPOOL/new and then moves each run to SPOOL/cur, or to SPOOL/bad with a reason.txt. A run
// leaves new/ only once it is stored (or refused), so a collector killed at any point leaves
// every run either stored and in cur/, or in new/ to be stored by the next one: the same run
// twice is stored once. When the store fails, the runs stay in new/ and are stored when it is
// back; it says so once. A stop request (INT, TERM, HUP) ends it between runs.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "line/command_table.h"
#include "line/ingest.h"
#include "line/run_files.h"
#include "line/text.h"

namespace line {

namespace {

volatile sig_atomic_t gStopRequested = 0;

void OnStop(int) { gStopRequested = 1; }

void CatchStopRequests() {
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Waits about `seconds`, ending early on a stop request.
void Pause(double seconds) {
    for (int i = 0; i < static_cast<int>(seconds * 10) && !gStopRequested; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::string Base(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// Moves a run folder out of new/; another collector may have moved it first, which is fine.
void MoveRun(const std::string& folder, const std::string& into) {
    std::string target = into + "/" + Base(folder);
    for (int n = 1; Exists(target); ++n) target = into + "/" + Base(folder) + "." + std::to_string(n);
    if (std::rename(folder.c_str(), target.c_str()) != 0 && errno != ENOENT) {
        std::fprintf(stderr, "kelvotest-line watch: cannot move %s to %s: %s\n", Shown(folder).c_str(),
                     Shown(target).c_str(), std::strerror(errno));
    }
}

void Refuse(const std::string& folder, const std::string& spool, const std::string& reason) {
    if (FILE* f = std::fopen((folder + "/reason.txt").c_str(), "w")) {
        std::fprintf(f, "%s\n", reason.c_str());
        std::fclose(f);
    }
    MoveRun(folder, spool + "/bad");
}

class Watcher {
public:
    Watcher(std::string spool, std::string url, bool once) : spool_(std::move(spool)), url_(std::move(url)), once_(once) {}
    int Run();
private:
    bool Connect();
    bool StoreOne(const std::string& folder);   // false: the store failed, the run waits
    void Show(const char* what, const std::string& detail);
    void StoreTrouble(const std::string& message);

    std::string spool_, url_;
    bool once_;
    bool terminal_ = isatty(STDOUT_FILENO) != 0;
    std::unique_ptr<Store> store_;
    bool troubleSaid_ = false;
    size_t stored_ = 0, refused_ = 0, waiting_ = 0;
};

void Watcher::Show(const char* what, const std::string& detail) {
    if (terminal_) {
        std::printf("\rstored %zu, refused %zu, waiting %zu   ", stored_, refused_, waiting_);
    } else if (what != nullptr) {
        std::printf("%s %s\n", what, Shown(detail).c_str());
    }
    std::fflush(stdout);
}

void Watcher::StoreTrouble(const std::string& message) {
    if (!troubleSaid_) {
        std::fprintf(stderr, "%skelvotest-line watch: the store %s fails: %s; the runs wait in %s/new until it is back\n",
                     terminal_ ? "\n" : "", Shown(url_).c_str(), Shown(message).c_str(), Shown(spool_).c_str());
    }
    troubleSaid_ = true;
}

bool Watcher::Connect() {
    if (store_ && store_->Reachable()) return true;
    if (store_ && store_->Reconnect()) return true;
    std::string error;
    store_ = Store::Open(url_, &error);
    if (!store_) StoreTrouble(error);
    return store_ != nullptr;
}

bool Watcher::StoreOne(const std::string& folder) {
    RunRecord run;
    std::string error;
    if (!ReadOcpRun(folder + "/ocp.jsonl", &run, &error)) {
        if (!Exists(folder)) return true;   // another collector took it
        Refuse(folder, spool_, error);
        ++refused_;
        Show("refused", Base(folder) + ": " + error);
        return true;
    }
    const StoreResult result = StoreRun(*store_, run);
    if (result.outcome == Stored::kStoreFailed) {
        StoreTrouble(result.message);
        return false;
    }
    if (troubleSaid_) std::fprintf(stderr, "kelvotest-line watch: the store is back; storing the waiting runs\n");
    troubleSaid_ = false;
    if (result.outcome == Stored::kConflict) {
        Refuse(folder, spool_, result.message);
        ++refused_;
        Show("refused", Base(folder) + ": " + result.message);
        return true;
    }
    MoveRun(folder, spool_ + "/cur");
    ++stored_;
    Show(result.outcome == Stored::kNew ? "stored" : "already stored",
         run.runId + " " + run.serial.value_or("(no serial)") + " " + run.result);
    return true;
}

int Watcher::Run() {
    for (const char* part : {"", "/new", "/cur", "/bad", "/tmp"}) {
        const std::string folder = spool_ + part;
        if (mkdir(folder.c_str(), 0775) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "kelvotest-line watch: cannot make %s: %s\n", Shown(folder).c_str(), std::strerror(errno));
            return kExitFailed;
        }
    }
    CatchStopRequests();
    while (!gStopRequested) {
        const std::vector<std::string> runs = RunFolders(spool_ + "/new");
        waiting_ = runs.size();
        bool failed = !Connect();
        for (size_t i = 0; i < runs.size() && !failed && !gStopRequested; ++i) {
            waiting_ = runs.size() - i - 1;
            failed = !StoreOne(runs[i]);
        }
        if (once_ && (runs.empty() || failed)) break;
        Show(nullptr, "");
        if (failed || runs.empty()) Pause(failed ? 2.0 : 1.0);
    }
    if (terminal_) std::printf("\n");
    return troubleSaid_ ? kExitFailed : kExitDone;
}

}  // namespace

int RunWatch(const Arguments& args) {
    static const OptionSpec kSpecs[] = {{"--db", true}, {"--once", false}};
    Options options;
    if (!ReadOptions("watch", args, kSpecs, &options)) return kExitFailed;
    if (options.operands.size() != 1) {
        std::fprintf(stderr, "kelvotest-line watch: name one spool folder\nusage: kelvotest-line watch [--db URL] [--once] SPOOL\n");
        return kExitFailed;
    }
    return Watcher(options.operands[0], options.Get("--db", kDefaultStore), options.Has("--once")).Run();
}

}  // namespace line
