// trace/trace_reader.cc: reading a trace back, one checked group at a time. A group's calls
// are handed out only once its check record has matched; a length no record can have is
// damage, refused before anything is allocated for it; and a trace is whole only when it ends
// with its closing record (versions 1 and 2, which have none, end where their records end).
#include <cstring>

#include "host/host.h"
#include "trace/layout.h"
#include "trace/trace_format.h"

namespace trace {

using namespace layout;

Reader::~Reader() {
    if (file_ != -1) host::CloseInputFile(file_);
}

bool Reader::Open(const std::string& path, std::string* error) {
    // Only a regular file, opened without waiting: a FIFO or a device at the name is refused.
    const char* problem = "";
    if (!host::OpenInputFile(path.c_str(), file_, size_, &problem)) {
        *error = problem == host::kNotARegularFile ? path + " is not a regular file"
                                                                    : "cannot open the trace " + path + ": " + problem;
        return false;
    }
    return ReadHeader(path, error);
}

bool Reader::OpenBytes(const uint8_t* bytes, size_t size, std::string* error) {
    memory_ = bytes;
    size_ = size;
    return ReadHeader("the trace", error);
}

size_t Reader::ReadSome(uint8_t* out, size_t count) {
    size_t got = 0;
    if (memory_ != nullptr) {
        got = static_cast<size_t>(size_ - consumed_ < count ? size_ - consumed_ : count);
        if (got > 0) std::memcpy(out, memory_ + consumed_, got);
    } else if (file_ != -1) {
        while (got < count) {
            const int64_t n = host::ReadInputFile(file_, out + got, count - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
    }
    consumed_ += got;
    return got;
}

bool Reader::ReadHeader(const std::string& name, std::string* error) {
    uint8_t header[kHeaderBytes];
    if (ReadSome(header, kOldHeaderBytes) != kOldHeaderBytes || std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        *error = name + " is not a trace of the recording library";
        return false;
    }
    version_ = header[8] | header[9] << 8;
    if (version_ == 0) {
        *error = name + " is a damaged trace: its header names format version 0, which no recorder writes";
        return false;
    }
    if (version_ > kFormatVersion) {
        *error = name + ": trace format version " + std::to_string(version_) +
                 " is newer than this reader understands (" + std::to_string(kFormatVersion) +
                 "); read it with a newer build";
        return false;
    }
    if (version_ >= 3) {
        const bool read = ReadSome(header + kOldHeaderBytes, 4) == 4;
        const uint32_t stored = static_cast<uint32_t>(header[20] | header[21] << 8 | header[22] << 16) |
                                static_cast<uint32_t>(header[23]) << 24;
        if (!read || stored != Crc32c(0, header, kOldHeaderBytes)) {
            *error = name + " is a damaged trace: its header does not match its check";
            return false;
        }
    }
    const uint16_t flags = static_cast<uint16_t>(header[kHeaderFlagsAt] | header[kHeaderFlagsAt + 1] << 8);
    const uint16_t known = version_ >= 2 ? kHeaderFlagCut : 0;
    if ((flags & ~known) != 0) {
        *error = name + " is a damaged trace: its header has unknown flags";
        return false;
    }
    cut_ = (flags & kHeaderFlagCut) != 0;
    headerCrc_ = version_ == 2 ? OldHeaderCrc(header) : 0;
    for (int i = 0; i < 8; ++i) startUnixMs_ |= static_cast<uint64_t>(header[12 + i]) << (8 * i);
    wholeBytes_ = consumed_;
    return true;
}

// A trace the recorder marked as cut ends at a record's end, the group it was in checked
// where there was still room for the check; one that ends inside a record is damaged too.
ReadStatus Reader::EndStatus(bool insideRecord, bool insideGroup) const {
    if (insideRecord) return ReadStatus::kTruncated;
    if (cut_) return ReadStatus::kCut;
    if (insideGroup) return ReadStatus::kTruncated;
    return version_ >= 3 && !closed_ ? ReadStatus::kUnclosed : ReadStatus::kEnd;
}

// One record's payload, its length and bytes counted into *crc. kCall when it was read.
ReadStatus Reader::ReadRecord(std::vector<uint8_t>& payload, uint32_t* crc) {
    uint8_t prefix[kMaxLengthPrefix];
    uint64_t length = 0;
    size_t lengthBytes = 0;
    for (;;) {
        if (ReadSome(prefix + lengthBytes, 1) != 1) {
            problemEnd_ = consumed_;
            return EndStatus(lengthBytes > 0, lengthBytes > 0 || !group_.empty());
        }
        length |= static_cast<uint64_t>(prefix[lengthBytes] & 0x7F) << (7 * lengthBytes);
        if ((prefix[lengthBytes++] & 0x80) == 0) break;
        if (lengthBytes == kMaxLengthPrefix) {
            problemEnd_ = consumed_;
            return ReadStatus::kCorrupt;
        }
    }
    if (length > kLargestRecordBytes) {   // more than any call can hold: damage, whatever the file's size
        problemEnd_ = consumed_;
        return ReadStatus::kCorrupt;
    }
    if (length > size_ - consumed_) {
        problemEnd_ = size_;
        return EndStatus(true, true);
    }
    payload.resize(static_cast<size_t>(length));
    if (ReadSome(payload.data(), payload.size()) != payload.size()) {
        problemEnd_ = consumed_;
        return EndStatus(true, true);
    }
    const bool check = version_ >= 2 && !payload.empty() && payload[0] == kOpCheck;
    if (!check) {
        *crc = Crc32c(*crc, prefix, lengthBytes);
        *crc = Crc32c(*crc, payload.data(), payload.size());
    }
    return ReadStatus::kCall;
}

// Reads records up to and including the group's check record (version 1: one record), then
// decodes the group's calls once its check has matched.
ReadStatus Reader::ReadGroup() {
    group_.clear();
    ready_.clear();
    readyAt_ = 0;
    uint32_t crc = wholeBytes_ == kOldHeaderBytes ? headerCrc_ : 0;
    for (;;) {
        std::vector<uint8_t> payload;
        const ReadStatus status = ReadRecord(payload, &crc);
        if (status != ReadStatus::kCall) return status;
        if (closed_) {   // nothing follows the closing record
            problemEnd_ = consumed_;
            return ReadStatus::kCorrupt;
        }
        if (version_ >= 2 && !payload.empty() && payload[0] == kOpCheck) {
            problemEnd_ = consumed_;
            if (payload.size() != kCheckPayloadBytes || group_.empty()) return ReadStatus::kCorrupt;
            const uint32_t stored = static_cast<uint32_t>(payload[1] | payload[2] << 8 | payload[3] << 16) |
                                    static_cast<uint32_t>(payload[4]) << 24;
            if (stored != crc) return ReadStatus::kCorrupt;
            break;
        }
        group_.push_back(std::move(payload));
        if (version_ < 2) break;
        if (group_.size() > (version_ >= 3 ? kGroupRecords : kOldGroupRecords)) {
            problemEnd_ = consumed_;
            return ReadStatus::kCorrupt;
        }
    }
    return DecodeGroup();
}

// The group's calls; the closing record stands alone in its group and holds the number of
// calls before it.
ReadStatus Reader::DecodeGroup() {
    problemEnd_ = consumed_;
    if (version_ >= 3 && group_.size() == 1 && !group_[0].empty() && group_[0][0] == kOpClosing) {
        uint64_t calls = 0;
        size_t at = 1;
        for (int shift = 0; at < group_[0].size() && shift < 64; shift += 7) {
            calls |= static_cast<uint64_t>(group_[0][at] & 0x7F) << shift;
            if ((group_[0][at++] & 0x80) == 0) break;
        }
        if (at != group_[0].size() || (group_[0].back() & 0x80) != 0 || calls != records_) return ReadStatus::kCorrupt;
        closed_ = true;
        wholeBytes_ = consumed_;
        return ReadStatus::kCall;
    }
    for (const std::vector<uint8_t>& payload : group_) {
        Call call;
        if (!DecodePayload(payload.data(), payload.size(), &lastTimeMs_, &patternByte_, call)) {
            ready_.clear();
            return ReadStatus::kCorrupt;
        }
        ready_.push_back(std::move(call));
    }
    return ReadStatus::kCall;
}

ReadStatus Reader::Next(Call& call) {
    if (stopped_ != ReadStatus::kCall) return stopped_;
    while (readyAt_ == ready_.size()) {
        const ReadStatus status = ReadGroup();
        if (status != ReadStatus::kCall) {
            stopped_ = status;
            return status;
        }
    }
    call = std::move(ready_[readyAt_++]);
    ++records_;
    if (readyAt_ == ready_.size()) wholeBytes_ = consumed_;   // the group, its check included
    return ReadStatus::kCall;
}

}  // namespace trace
