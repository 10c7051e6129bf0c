// tests/line/line_test_support.cc: the shared test server, run data and process helpers.
#include "tests/line/line_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

extern char** environ;

namespace linetest {

namespace {


int RunScript(const std::string& command, const std::string& dir) {
    const std::string line = std::string("sh ") + KELVO_PG_SERVER_SCRIPT + " " + command + " " + dir + " >/dev/null 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string UrlFor(const std::string& dir, const std::string& database) {
    return "postgresql:host=" + dir + " user=postgres dbname=" + database;
}

// The server this program shares among its tests: ctest's fixture's (KELVO_LINE_PG_DIR), or
// one started on first use and stopped when the program ends.
struct SharedServer {
    std::string dir;
    bool own = false;
    int status = 0;
    SharedServer() {
        // ctest's fixture's server, when it runs (its socket is there).
        if (const char* fixture = std::getenv("KELVO_LINE_PG_DIR");
            fixture && *fixture && std::filesystem::exists(std::string(fixture) + "/.s.PGSQL.5432")) {
            dir = fixture;
            return;
        }
        char name[] = "/tmp/kelvo-line-pg-XXXXXX";
        dir = mkdtemp(name) ? name : "";
        own = true;
        status = RunScript("start", dir);
    }
    ~SharedServer() {
        if (own) RunScript("stop", dir);
    }
};

std::string ReadData(const char* name) { return ReadFileText(std::string(KELVO_LINE_TEST_DATA) + "/" + name); }

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::string FreshPostgresDatabase(std::string* skip) {
    static SharedServer server;
    if (server.status == 77) {
        *skip = "the PostgreSQL server is not installed (Debian: postgresql)";
        return "";
    }
    if (server.status != 0) {
        *skip = "";
        ADD_FAILURE() << "the test server did not start in " << server.dir;
        return "";
    }
    static std::atomic<int> counter{0};
    const std::string database = "t" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    const std::string command = "psql -q -h " + server.dir + " -U postgres -d postgres -c 'CREATE DATABASE " + database +
                                "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "cannot create database " << database;
    return UrlFor(server.dir, database);
}

OwnPostgres::OwnPostgres() {
    char name[] = "/tmp/kelvo-line-pg-XXXXXX";
    dir_ = mkdtemp(name) ? name : "";
}
OwnPostgres::~OwnPostgres() { RunScript("stop", dir_); }
bool OwnPostgres::Started(std::string* skip) {
    const int status = RunScript("start", dir_);
    if (status == 77) *skip = "the PostgreSQL server is not installed (Debian: postgresql)";
    else if (status != 0) *skip = "";
    return status == 0;
}
std::string OwnPostgres::Url() const { return UrlFor(dir_, "postgres"); }
void OwnPostgres::Pause() { EXPECT_EQ(RunScript("pause", dir_), 0); }
void OwnPostgres::Resume() { EXPECT_EQ(RunScript("start", dir_), 0); }

std::string StoreUrl(line::Engine engine, const TempDir& dir, std::string* skip) {
    if (engine == line::Engine::kSqlite) return "sqlite:" + dir.File("results.db");
    return FreshPostgresDatabase(skip);
}

void StoreTest::SetUp() {
    std::string skip;
    url_ = StoreUrl(GetParam(), dir_, &skip);
    if (url_.empty()) {
        if (!skip.empty()) GTEST_SKIP() << skip;
        return;
    }
    std::string error;
    store_ = line::Store::Open(url_, &error);
    ASSERT_TRUE(store_) << error;
}

int64_t StoreTest::Count(const std::string& sql, const std::vector<line::Param>& params) {
    int64_t n = -1;
    std::string error;
    EXPECT_TRUE(store_->Query(sql, params, [&](const line::Row& row) { n = row.Int(0); }, &error)) << error;
    return n;
}

std::string EngineName(const ::testing::TestParamInfo<line::Engine>& info) {
    return info.param == line::Engine::kSqlite ? "SQLite" : "PostgreSQL";
}

std::string PassingRun() { return ReadData("run1.jsonl"); }
std::string FailingRun() { return ReadData("run2.jsonl"); }

std::string RunWith(const std::string& runId, const std::string& serial, const std::string& base) {
    std::string text = base;
    ReplaceAll(text, "6f1c2a8e-93b4-4d07-a5e2-0c7d9b3e1f42", runId);
    ReplaceAll(text, "d2b7e914-5a60-4c8f-b1e3-7a9c04f6d583", runId);
    const std::string quoted = nlohmann::json(serial).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    ReplaceAll(text, "\"SN0001\"", quoted);
    ReplaceAll(text, "\"SN0002\"", quoted);
    return text;
}

std::string RunIdFor(int n) {
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
    return id;
}

void Publish(const std::string& spool, const std::string& id, const std::string& ocp) {
    std::filesystem::create_directories(spool + "/tmp/" + id);
    std::filesystem::create_directories(spool + "/new");
    FILE* f = std::fopen((spool + "/tmp/" + id + "/ocp.jsonl").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(ocp.data(), 1, ocp.size(), f);
    std::fclose(f);
    std::filesystem::rename(spool + "/tmp/" + id, spool + "/new/" + id);
}

pid_t StartLine(const std::vector<std::string>& args, const std::string& outFile) {
    std::vector<char*> argv;
    std::string program = KELVOTEST_LINE_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (outFile + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Result RunLine(const std::vector<std::string>& args) {
    TempDir scratch;
    Result result;
    const pid_t pid = StartLine(args, scratch.File("out"));
    if (pid < 0) return result;
    result.status = WaitFor(pid);
    result.out = ReadFileText(scratch.File("out"));
    result.err = ReadFileText(scratch.File("out.err"));
    return result;
}

}  // namespace linetest
