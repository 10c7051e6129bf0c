// line/read_ahead.cc: one reader thread, a short queue, and the store's thread taking from it.
#include "line/read_ahead.h"

namespace line {

ReadAhead::ReadAhead(std::vector<std::string> files) : files_(std::move(files)), reader_([this] { Read(); }) {}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    reader_.join();
}

void ReadAhead::Read() {
    for (const std::string& file : files_) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || ready_.size() < kAhead; });
            if (stop_) return;
        }
        ReadRun next;
        next.file = file;
        next.read = ReadOcpRun(file, &next.run, &next.error);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ready_.push_back(std::move(next));
        }
        changed_.notify_all();
    }
}

bool ReadAhead::Next(ReadRun* next) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Another taker may take the last run while this one waits.
    changed_.wait(lock, [this] { return !ready_.empty() || handedOut_ == files_.size(); });
    if (ready_.empty()) return false;
    *next = std::move(ready_.front());
    ready_.pop_front();
    ++handedOut_;
    lock.unlock();
    changed_.notify_all();
    return true;
}

}  // namespace line
