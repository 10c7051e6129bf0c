// line/read_ahead.h: runs read ahead of the store. While one run is stored, the next files are
// read and checked on another core, in the order given; at most kAhead runs wait, so that the
// memory stays flat however many files there are.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "line/ocp_run.h"

namespace line {

struct ReadRun {
    std::string file;
    bool read = false;       // false: refused, with the reason in error
    RunRecord run;
    std::string error;
};

class ReadAhead {
public:
    static constexpr size_t kAhead = 8;
    explicit ReadAhead(std::vector<std::string> files);
    ~ReadAhead();   // stops reading, and waits for the reader
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next file's run; false once every file was handed out. Several threads may take.
    bool Next(ReadRun* next);

private:
    void Read();
    const std::vector<std::string> files_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ReadRun> ready_;
    size_t handedOut_ = 0;
    bool stop_ = false;
    std::thread reader_;   // last: it starts once everything above is made
};

}  // namespace line
