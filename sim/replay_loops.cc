// sim/replay_loops.cc: reads a whole trace once for its loops. Records are taken as tokens, a
// stretch of ReadBlocks as one; a stream loop is a stretch of blocks with at most
// kRestartCalls calls between them, a call loop a pass of up to kLongestPass tokens found twice
// in a row and repeated, error look-ups among its calls, as long as it lasts.
#include "sim/replay_loops.h"

#include <map>

namespace sim {

namespace {

using trace::Call;
using trace::Op;

constexpr size_t kLongestPass = 64;     // calls in one pass of a call loop
constexpr size_t kRestartCalls = 8;     // calls between the blocks of one stream loop

struct Token {
    uint32_t id;   // 0: a stretch of ReadBlocks
    uint64_t first, last;
    uint64_t timeMs;   // of its first record
};

struct Tokens {
    std::vector<Token> list;
    std::vector<Call> calls;        // by id: the call as last recorded, without failing if it ever did
    std::vector<bool> lookUp;       // by id: an error look-up
};

Tokens ReadTokens(trace::Reader& reader) {
    Tokens t;
    std::map<std::string, uint32_t> ids;
    std::vector<bool> clean(1, false);
    t.calls.emplace_back();
    t.lookUp.push_back(false);
    Call call;
    while (reader.Next(call) == trace::ReadStatus::kCall) {
        const uint64_t number = reader.Records();
        if (call.op == Op::ReadBlock) {
            if (!t.list.empty() && t.list.back().id == 0) {
                t.list.back().last = number;
            } else {
                t.list.push_back(Token{0, number, number, call.timeMs});
            }
            continue;
        }
        const auto [found, added] = ids.emplace(Signature(call), static_cast<uint32_t>(t.calls.size()));
        if (added) {
            t.calls.emplace_back();
            clean.push_back(false);
            t.lookUp.push_back(IsErrorLookUp(call.op));
        }
        const bool failed = trace::IsFailure(call);
        if (!failed || !clean[found->second]) {
            t.calls[found->second] = call;
            t.calls[found->second].runs.clear();
            clean[found->second] = !failed;
        }
        t.list.push_back(Token{found->second, number, number, call.timeMs});
    }
    return t;
}

void FindStreamLoops(const Tokens& t, std::vector<bool>& taken, std::vector<Loop>& loops) {
    const std::vector<Token>& tokens = t.list;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].id != 0) continue;
        size_t end = i;
        size_t lastGap = i;   // the restart calls: those after the last-but-one stretch
        for (size_t j = i + 1; j < tokens.size() && j <= end + kRestartCalls + 1; ++j) {
            if (tokens[j].id == 0) {
                lastGap = end;
                end = j;
            }
        }
        Loop loop;
        loop.first = tokens[i].first;
        loop.last = tokens[end].last;
        loop.stream = true;
        for (size_t k = lastGap + 1; k < end; ++k) loop.pass.push_back(t.calls[tokens[k].id]);
        for (size_t k = i; k <= end; ++k) taken[k] = true;
        loops.push_back(std::move(loop));
        i = end;
    }
}

// The shortest pass that the tokens from `at` on make twice in a row; 0 when there is none.
size_t PeriodAt(const std::vector<Token>& tokens, const std::vector<bool>& taken, size_t at) {
    for (size_t p = 1; p <= kLongestPass && at + 2 * p <= tokens.size(); ++p) {
        bool repeats = true;
        for (size_t k = 0; k < p && repeats; ++k) {
            repeats = !taken[at + k] && !taken[at + p + k] && tokens[at + k].id == tokens[at + p + k].id;
        }
        if (repeats) return p;
    }
    return 0;
}

// One more pass from token `at` on: the pass's calls in order, with error look-ups among
// them. Where it ends, or 0 when the tokens there are no such pass.
size_t PassEnd(const Tokens& t, const std::vector<bool>& taken, size_t at, const std::vector<uint32_t>& pass) {
    size_t k = 0;
    size_t j = at;
    while (k < pass.size() && j < t.list.size() && !taken[j] && j - at < pass.size() + kLongestPass) {
        if (t.list[j].id == pass[k]) {
            ++k;
        } else if (!t.lookUp[t.list[j].id]) {
            return 0;
        }
        ++j;
    }
    return k == pass.size() ? j : 0;
}

void FindCallLoops(const Tokens& t, const std::vector<bool>& taken, std::vector<Loop>& loops) {
    const std::vector<Token>& tokens = t.list;
    for (size_t i = 0; i < tokens.size();) {
        const size_t period = PeriodAt(tokens, taken, i);
        if (period == 0) {
            ++i;
            continue;
        }
        std::vector<uint32_t> pass;
        for (size_t k = i; k < i + period; ++k) pass.push_back(tokens[k].id);
        size_t end = i + period;
        size_t lastPass = i;
        uint64_t passes = 1;
        for (size_t next = 0; (next = PassEnd(t, taken, end, pass)) != 0; ++passes) {
            lastPass = end;
            end = next;
        }
        Loop loop;
        loop.first = tokens[i].first;
        loop.last = tokens[end - 1].last;
        for (const uint32_t id : pass) loop.pass.push_back(t.calls[id]);
        std::vector<bool> lookedUp(t.calls.size(), false);
        for (size_t k = i; k < end; ++k) {
            const uint32_t id = tokens[k].id;
            if (t.lookUp[id] && !lookedUp[id]) loop.lookUps.push_back(t.calls[id]);
            lookedUp[id] = true;
        }
        const uint64_t spanMs =
            tokens[lastPass].timeMs > tokens[i].timeMs ? tokens[lastPass].timeMs - tokens[i].timeMs : 0;
        loop.passNs = spanMs * 1000000u / (passes - 1);
        loops.push_back(std::move(loop));
        i = end;
    }
}

}  // namespace

std::string Signature(const Call& call) {
    if (call.op == Op::ReadBlock) return "ReadBlock";
    std::string key = trace::DescribeCall(call, false);
    key.append(call.dataIn.begin(), call.dataIn.end());
    return key;
}

bool IsErrorLookUp(Op op) { return op == Op::GetKelvoErrorText || op == Op::GetLastKelvoError; }

std::vector<Loop> FindLoops(const std::string& path) {
    trace::Reader reader;
    std::string error;
    if (!reader.Open(path, &error)) return {};
    const Tokens tokens = ReadTokens(reader);
    std::vector<Loop> streams;
    std::vector<Loop> calls;
    std::vector<bool> taken(tokens.list.size(), false);
    FindStreamLoops(tokens, taken, streams);
    FindCallLoops(tokens, taken, calls);
    // Each list is in the order of its records; the two are merged into that order.
    std::vector<Loop> loops;
    size_t s = 0;
    size_t c = 0;
    while (s < streams.size() || c < calls.size()) {
        const bool stream = c == calls.size() || (s < streams.size() && streams[s].first < calls[c].first);
        loops.push_back(std::move(stream ? streams[s++] : calls[c++]));
    }
    return loops;
}

}  // namespace sim
