#include "tools/vemra-render/run/atomic_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/vemra-render/run/file_lock.h"
#include "tools/vemra-render/run/interrupt.h"
#include "tools/vemra-render/run/journal.h"

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
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socket_path = (dir_ / "socket").string();
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    std::copy(socket_path.begin(), socket_path.end(), address.sun_path);
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    struct Case {
        fs::path target;
        const char* cause;
    };
    for (const Case& c :
         {Case{dir_ / "file" / "out.bin", "is not a folder"},
          Case{dir_ / "missing" / "out.bin", "does not exist"},
          Case{dir_ / "folder", "it is a folder"}, Case{dir_ / "socket", "it is a socket"}}) {
        try {
            WriteFileAtomically(c.target, Bytes("x"));
            ADD_FAILURE() << c.target;
        } catch (const OutputError& e) {
            EXPECT_NE(std::string(e.what()).find(c.target.string()), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.cause), std::string::npos) << e.what();
        }
    }
    ::close(listening);
    EXPECT_EQ(Files(), (std::vector<std::string>{"file", "folder", "socket"}));
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

TEST_F(AtomicOutput, OnlyThisHostsTemporariesWhoseLockIsFreeAreSwept) {
    const std::string host = TemporaryHostName();
    // A live temporary of this process: its lock is held whatever its
    // process id means in the sweeping process's namespace.
    AtomicFile live(target_);
    const std::string live_name = fs::path(live.temp_path()).filename().string();
    EXPECT_EQ(live_name.rfind(".out.bin.vemra-" + host + "-" + std::to_string(::getpid()) + "-", 0),
              0u)
        << live_name;
    const std::vector<std::string> stale = {
        ".out.bin.vemra-" + host + "-" + std::to_string(::getpid()) + "-99",  // no lock held
        ".out.bin.vemra-" + host + "-1-0",  // a live process id, but no lock held
    };
    const std::vector<std::string> kept = {".out.bin.vemra-" + host + "x-7-0",   // another host
                                           ".out.bin.vemra-other-7-0",           // another host
                                           ".other.bin.vemra-" + host + "-7-0",  // another target
                                           ".out.bin.vemra-" + host + "-7-x",    // not ours
                                           ".out.bin.vemra-7-0",                 // no host at all
                                           "out.bin"};
    for (const std::string& name : stale) Put(dir_ / name, "x");
    for (const std::string& name : kept) Put(dir_ / name, "x");
    // Another process holding the lock of a temporary named with a process
    // id that does not exist here (as one in another PID namespace).
    const std::string other = ".out.bin.vemra-" + host + "-999999-0";
    Put(dir_ / other, "x");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open((dir_ / other).c_str(), O_RDWR);
        const bool locked = fd >= 0 && LockFile(fd, LockKind::kExclusive, false) == 0;
        [[maybe_unused]] const ssize_t told = ::write(ready[1], locked ? "y" : "n", 1);
        ::pause();
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');

    std::vector<fs::path> removed = RemoveStaleTemporaries({target_});
    std::vector<fs::path> expected_removed = {dir_ / stale[0], dir_ / stale[1]};
    std::sort(removed.begin(), removed.end());
    std::sort(expected_removed.begin(), expected_removed.end());
    EXPECT_EQ(removed, expected_removed);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    std::vector<std::string> expected = kept;
    expected.push_back(live_name);
    expected.push_back(other);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files(), expected);
    // With its holder gone, the other process's temporary is stale.
    EXPECT_EQ(RemoveStaleTemporaries({target_}), std::vector<fs::path>{dir_ / other});
}

TEST_F(AtomicOutput, AFifoIsWrittenIntoAndNeverReplaced) {
    const fs::path fifo = dir_ / "pipe.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader is there first; the pipe holds the few bytes until read.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        AtomicFile dropped(fifo);  // abandoned: nothing reaches the reader
        dropped.Write(Bytes("dropped"));
    }
    WriteFileAtomically(fifo, Bytes("frame bytes"));
    char buffer[64] = {};
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    EXPECT_EQ(std::string(buffer, std::size_t(std::max<ssize_t>(0, got))), "frame bytes");
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO was replaced";
    EXPECT_EQ(Files(), std::vector<std::string>{"pipe.bin"});
}

// A journal entry is written before its rename; only an entry naming the
// file that is there now counts, so neither a rename that never happened
// nor a line cut short by a crash passes for a rendered frame.
TEST_F(AtomicOutput, AnInPlaceJournalCountsOnlyFramesItsEntriesNameAsTheyAre) {
    const fs::path journal = dir_ / ".in.#.png.vemra-journal";
    const std::vector<std::string> planned = {"in.1.png", "in.2.png", "in.3.png"};
    for (const std::string& name : planned) Put(dir_ / name, "original " + name);
    // Renders `name` as a run does: entry first, then the rename, unless
    // the run dies between the two.
    auto render = [&](InPlaceJournal& open, const std::string& name, bool renamed) {
        AtomicFile file(dir_ / name);
        file.Write(Bytes("rendered " + name));
        file.Flush();
        open.Record(name, file.temp_path());
        if (renamed) file.Commit();
    };
    {
        InPlaceJournal first(journal, "--temperature 0.5", planned);
        EXPECT_FALSE(first.Done("in.1.png"));
        render(first, "in.1.png", true);
        render(first, "in.2.png", false);  // killed before its rename
    }
    std::ofstream(journal, std::ios::app) << "renaming in.3.png 1 2 3";  // cut short
    const auto done = [&](const std::string& values) {
        InPlaceJournal open(journal, values, planned);
        std::string names;
        for (const std::string& name : planned) names += open.Done(name) ? name + " " : "";
        return names;
    };
    EXPECT_EQ(done("--temperature 0.5"), "in.1.png ");
    // Other values while the first run is unfinished: refused, untouched.
    EXPECT_THROW(done("--temperature 0.9"), JournalRefused);
    EXPECT_EQ(done("--temperature 0.5"), "in.1.png ");
    {
        InPlaceJournal again(journal, "--temperature 0.5", planned);
        render(again, "in.2.png", true);
        render(again, "in.3.png", true);
    }
    EXPECT_EQ(done("--temperature 0.5"), "in.1.png in.2.png in.3.png ");
    // Finished: other values start a new record, in which nothing is done.
    EXPECT_EQ(done("--temperature 0.9"), "");
    EXPECT_EQ(Content(dir_ / "in.2.png"), "rendered in.2.png");
    Put(journal, "not a journal\n");
    EXPECT_THROW(done("--temperature 0.9"), JournalRefused);
}

}  // namespace
}  // namespace render
