#include "tools/vemra-render/run/atomic_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/vemra-render/run/interrupt.h"

namespace render {
namespace {

namespace fs = std::filesystem;

class AtomicOutput : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vemra-atomic-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        target_ = dir_ / "out.bin";
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Content(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    void Put(const fs::path& path, const std::string& bytes) const {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::span<const std::byte> Bytes(const std::string& text) {
        return std::as_bytes(std::span(text.data(), text.size()));
    }

    /// Runs `body` in a child process and returns its wait status.
    template <typename Body>
    int InChild(Body body) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            body();
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }

    fs::path dir_;
    fs::path target_;
};

TEST_F(AtomicOutput, CommitReplacesTheTargetAndLeavesNothingElse) {
    Put(target_, "old");
    ::chmod(target_.c_str(), 0640);
    WriteFileAtomically(target_, Bytes("new contents"));
    EXPECT_EQ(Content(target_), "new contents");
    EXPECT_EQ(Files(), std::vector<std::string>{"out.bin"});
    struct stat info {};
    ASSERT_EQ(::stat(target_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);  // the replaced file's permissions
}

TEST_F(AtomicOutput, AbandonedWriteKeepsTheOldFileAndRemovesTheTemporary) {
    Put(target_, "old");
    {
        AtomicFile file(target_);
        file.Write(Bytes("half"));
        EXPECT_TRUE(fs::exists(file.temp_path()));
    }
    EXPECT_EQ(Content(target_), "old");
    EXPECT_EQ(Files(), std::vector<std::string>{"out.bin"});
}

TEST_F(AtomicOutput, UnusableTargetsAreRefusedNamingTheCause) {
    Put(dir_ / "file", "x");
    fs::create_directory(dir_ / "folder");
    struct Case {
        fs::path target;
        const char* cause;
    };
    for (const Case& c : {Case{dir_ / "file" / "out.bin", "is not a folder"},
                          Case{dir_ / "missing" / "out.bin", "does not exist"},
                          Case{dir_ / "folder", "it is a folder"}}) {
        try {
            WriteFileAtomically(c.target, Bytes("x"));
            ADD_FAILURE() << c.target;
        } catch (const OutputError& e) {
            EXPECT_NE(std::string(e.what()).find(c.target.string()), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.cause), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"file", "folder"}));
}

TEST_F(AtomicOutput, FailedWriteThrowsAndKeepsTheOldFile) {
    Put(target_, "old");
    const int status = InChild([&] {
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
        try {
            WriteFileAtomically(target_, Bytes(std::string(5000, 'x')));
        } catch (const OutputError& e) {
            ::_exit(std::string(e.what()).find("File too large") != std::string::npos ? 3 : 4);
        }
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(Content(target_), "old");
    EXPECT_EQ(Files(), std::vector<std::string>{"out.bin"});
}

TEST_F(AtomicOutput, InterruptRemovesTheTemporaryAndKeepsTheOldFile) {
    Put(target_, "old");
    const int status = InChild([&] {
        StartInterruptThread();
        AtomicFile file(target_);
        file.Write(Bytes("unfinished"));
        // Sent to the process, as a shell or a scheduler sends it; the
        // signal thread takes it and ends the process while this one waits.
        ::kill(::getpid(), SIGTERM);
        for (;;) ::pause();
    });
    // It dies by the signal itself, after the sweep.
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(Content(target_), "old");
    EXPECT_EQ(Files(), std::vector<std::string>{"out.bin"});
}

TEST_F(AtomicOutput, OnlyThisHostsTemporariesOfEndedProcessesAreSwept) {
    // A process id that existed and has ended: a reaped child's.
    const pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    const std::string host = TemporaryHostName();
    const std::string stale = ".out.bin.vemra-" + host + "-" + std::to_string(ended) + "-0";
    const std::vector<std::string> kept = {
        ".out.bin.vemra-" + host + "-" + std::to_string(::getppid()) + "-3",  // a live process
        ".out.bin.vemra-" + host + "x-" + std::to_string(ended) + "-0",       // another host
        ".out.bin.vemra-other-" + std::to_string(ended) + "-0",               // another host
        ".other.bin.vemra-" + host + "-" + std::to_string(ended) + "-0",      // another target
        ".out.bin.vemra-" + host + "-" + std::to_string(ended) + "-x",        // not ours
        ".out.bin.vemra-" + std::to_string(ended) + "-0",                     // no host at all
        "out.bin"};
    for (const std::string& name : kept) Put(dir_ / name, "x");
    Put(dir_ / stale, "x");

    EXPECT_EQ(RemoveStaleTemporaries({target_}), std::vector<fs::path>{dir_ / stale});
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files(), expected);

    // The name a live temporary gets is one the sweep knows as this host's.
    AtomicFile file(target_);
    EXPECT_EQ(fs::path(file.temp_path())
                  .filename()
                  .string()
                  .rfind(".out.bin.vemra-" + host + "-" + std::to_string(::getpid()) + "-", 0),
              0u)
        << file.temp_path();
}

}  // namespace
}  // namespace render
