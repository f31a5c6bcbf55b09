// The measurement log's file: lines in order, at most one line not yet on the
// disk, nothing that was appended lost when the program is killed, and a full
// disk that ends the file with its last whole line.
#include "data/log_file.h"

#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <thread>

namespace zorm {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string NumberedLine(int n) {
    return "line " + std::to_string(n) + ";21500;21,50\r\n";
}

TEST(LogFile, LinesFollowEachOtherInAFileThatReplacesAnOldOne) {
    test::ScratchDirectory scratch;
    const fs::path path = scratch.Path() / "zaznam.csv";
    std::ofstream(path) << std::string(5000, 'x');

    std::string reason;
    std::unique_ptr<LogFile> log = LogFile::Create(path, reason);
    ASSERT_TRUE(log) << reason;
    std::string expected;
    for (int n = 0; n < 200; ++n) {
        ASSERT_TRUE(log->Append(NumberedLine(n), reason)) << reason;
        expected += NumberedLine(n);
        // Each line is in the file as soon as it is appended.
        ASSERT_EQ(ReadText(path).size(), expected.size());
    }
    EXPECT_EQ(log->Size(), expected.size());
    log.reset();
    EXPECT_EQ(ReadText(path), expected);

    EXPECT_FALSE(LogFile::Create(scratch.Path() / "missing" / "zaznam.csv", reason));
    EXPECT_FALSE(reason.empty());
}

TEST(LogFile, NoLineIsWrittenBeforeTheLineBeforeItIsOnTheDisk) {
    test::ScratchDirectory scratch;
    const fs::path path = scratch.Path() / "zaznam.csv";
    std::mutex mutex;
    std::condition_variable changed;
    int syncs = 0;
    bool release = false;
    const auto holdSync = [&] {
        std::unique_lock lock(mutex);
        ++syncs;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    };

    std::string reason;
    std::unique_ptr<LogFile> log = LogFile::Create(path, reason, holdSync);
    ASSERT_TRUE(log) << reason;
    ASSERT_TRUE(log->Append("first\r\n", reason));
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return syncs == 1; });
    }

    // The first line's sync hangs: the second line waits for it.
    std::atomic<bool> appended{false};
    bool secondOk = false;
    std::string secondReason;
    std::thread second([&] {
        secondOk = log->Append("second\r\n", secondReason);
        appended = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(appended);
    EXPECT_EQ(ReadText(path), "first\r\n");

    {
        const std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    second.join();
    EXPECT_TRUE(secondOk) << secondReason;
    EXPECT_EQ(ReadText(path), "first\r\nsecond\r\n");
    // Closing waits for the second line's sync.
    log.reset();
    EXPECT_EQ(syncs, 2);
}

#ifndef _WIN32

// Reads exactly `size` bytes from `fd`; false at its end.
bool ReadExactly(int fd, void* buffer, std::size_t size) {
    auto* bytes = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

TEST(LogFile, AKilledProgramLosesNoLineThatWasAppended) {
    test::ScratchDirectory scratch;
    std::mt19937 random(7);
    for (int run = 0; run < 5; ++run) {
        const fs::path path = scratch.Path() / ("zaznam-" + std::to_string(run) + ".csv");
        int reports[2];
        ASSERT_EQ(::pipe(reports), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(reports[0]);
            std::string reason;
            std::unique_ptr<LogFile> log = LogFile::Create(path, reason);
            for (int n = 0; log && log->Append(NumberedLine(n), reason); ++n) {
                // Told only once Append has returned.
                if (::write(reports[1], &n, sizeof n) != sizeof n) {
                    break;
                }
            }
            ::_exit(1);
        }
        ::close(reports[1]);
        const int killAfter = std::uniform_int_distribution<int>(1, 40)(random);
        int appended = -1;
        while (appended + 1 < killAfter && ReadExactly(reports[0], &appended, sizeof appended)) {
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(reports[0]);
        ASSERT_EQ(appended + 1, killAfter);

        // Whole lines in order, and every line whose Append returned.
        const std::string text = ReadText(path);
        std::string expected;
        int lines = 0;
        while (expected.size() < text.size()) {
            expected += NumberedLine(lines++);
        }
        EXPECT_EQ(text, expected) << "run " << run;
        EXPECT_GE(lines, killAfter) << "run " << run;
    }
}

TEST(LogFile, AFullDiskEndsTheFileWithItsLastWholeLine) {
    test::ScratchDirectory scratch;
    const fs::path path = scratch.Path() / "zaznam.csv";
    // 24 bytes: the limit cuts the 42nd line short.
    const std::string line = NumberedLine(12345);
    constexpr rlim_t Limit = 1000;
    int reports[2];
    ASSERT_EQ(::pipe(reports), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // SIGXFSZ keeps its default action, which would end the program:
        // the log ignores it itself.
        ::close(reports[0]);
        const rlimit fileSize{Limit, Limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        std::string reason;
        std::unique_ptr<LogFile> log = LogFile::Create(path, reason);
        int lines = 0;
        while (log && log->Append(line, reason)) {
            ++lines;
        }
        // Once failed, the log writes nothing more.
        std::string again;
        const bool stopped = log && !log->Append(line, again) && again == reason;
        const std::string report =
            std::to_string(lines) + (stopped ? " stopped " : " went on ") + reason;
        (void)!::write(reports[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(reports[1]);
    std::string report(200, '\0');
    const ssize_t got = ::read(reports[0], report.data(), report.size());
    report.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    ::close(reports[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;

    const std::size_t whole = Limit / line.size();
    EXPECT_EQ(report, std::to_string(whole) + " stopped " + std::generic_category().message(EFBIG));
    std::string expected;
    for (std::size_t n = 0; n < whole; ++n) {
        expected += line;
    }
    EXPECT_EQ(ReadText(path), expected);
}

#endif

} // namespace
} // namespace zorm
