// quellmark-cli trace: the contract the compatibility runner relies on.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/flash/player_test_support.h"

using namespace qm::flash::testing;

namespace {

struct Result {
    int status = -1;
    std::string out;
};

Result RunCli(const std::string& args) {
    Result r;
    std::string command = std::string(QM_CLI_PATH) + " " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class TraceCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("qm_trace_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Save(const w::Movie& movie, const std::string& name) {
        std::string path = (dir_ / name).string();
        movie.save(path);
        return path;
    }
    std::filesystem::path dir_;
};

}  // namespace

TEST_F(TraceCli, PrintsEveryTraceLineOfTheFramesRun) {
    w::Movie movie({.version = 6});
    movie.doAction(w::Actions().push({"first"}).trace());
    movie.showFrame();
    movie.doAction(w::Actions().push({"second"}).trace().push({""}).trace());
    movie.showFrame();
    std::string path = Save(movie, "movie.swf");

    Result two = RunCli("trace '" + path + "' --frames 2");
    EXPECT_EQ(two.status, 0);
    EXPECT_EQ(two.out, "first\nsecond\n\n");
    Result three = RunCli("trace '" + path + "' --frames 3");
    EXPECT_EQ(three.out, "first\nsecond\n\nfirst\n");
    Result none = RunCli("trace '" + path + "' --frames 0");
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
}

TEST_F(TraceCli, RefusesBadMoviesAndArguments) {
    std::string junk = (dir_ / "junk.swf").string();
    std::ofstream(junk) << "this is not a movie";
    EXPECT_NE(RunCli("trace '" + junk + "' --frames 1").status, 0);
    EXPECT_NE(RunCli("trace '" + (dir_ / "missing.swf").string() + "' --frames 1").status, 0);
    EXPECT_NE(RunCli("trace --frames 1").status, 0);
    EXPECT_NE(RunCli("trace '" + junk + "' --frames many").status, 0);
}
