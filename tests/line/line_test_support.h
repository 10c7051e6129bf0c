// tests/line/line_test_support.h: what the store's tests share: the engines as a test
// parameter, a throwaway PostgreSQL server (one per test program, or the one ctest's fixture
// started), runs made from a real run's OCP output, and kelvotest-line run as a process.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "line/store.h"
#include "tests/support/temp_files.h"

namespace linetest {

// A fresh, empty database on the shared test server, as a --db URL; "" with *skip set when
// the server's binaries are not installed.
std::string FreshPostgresDatabase(std::string* skip);

// A server of the test's own, for a test that stops and starts it.
class OwnPostgres {
public:
    OwnPostgres();
    ~OwnPostgres();
    bool Started(std::string* skip);   // starts it; false when it cannot run here (with the reason)
    std::string Url() const;
    void Pause();                      // stop, keeping the data
    void Resume();
private:
    std::string dir_;
};

// A store URL for the engine: a file in `dir` for SQLite, a fresh database for PostgreSQL.
std::string StoreUrl(line::Engine engine, const TempDir& dir, std::string* skip);

class StoreTest : public ::testing::TestWithParam<line::Engine> {
protected:
    void SetUp() override;
    TempDir dir_;
    std::string url_;
    std::unique_ptr<line::Store> store_;
    int64_t Count(const std::string& sql, const std::vector<line::Param>& params = {});
};

std::string EngineName(const ::testing::TestParamInfo<line::Engine>& info);

// The example plan's runs as kelvotest-plan wrote them: a passing and a failing one.
std::string PassingRun();   // run id 6f1c2a8e-…, serial SN0001
std::string FailingRun();   // run id d2b7e914-…, serial SN0002, adc.3v3-low
// The passing run under another run id and serial (JSON-escaped here).
std::string RunWith(const std::string& runId, const std::string& serial, const std::string& base = PassingRun());
std::string RunIdFor(int n);   // a UUID-like id from a number
// Publishes `ocp` as SPOOL/new/<id>/ocp.jsonl, as a station's spool does.
void Publish(const std::string& spool, const std::string& id, const std::string& ocp);

struct Result {
    int status = -1;
    std::string out, err;
};
// kelvotest-line with these arguments, to its end.
Result RunLine(const std::vector<std::string>& args);
// kelvotest-line started in the background; its output goes to files in `dir`.
pid_t StartLine(const std::vector<std::string>& args, const std::string& outFile);
int WaitFor(pid_t pid);

}  // namespace linetest
