// A file of lines that survives a crash and a power cut, losing at most the
// line being written.
//
// Each line goes to the system in one write as it is appended, so a crash of
// the program loses nothing that Append returned. Getting it onto the disk
// (fdatasync, FlushFileBuffers) takes milliseconds, far longer than a
// measurement pass may spend on its log, so a worker thread syncs each line
// behind the caller. The next Append waits until the line before it is on the
// disk: at any moment at most one line, the newest, is not yet there. With
// passes a second apart and a sync of a few milliseconds the wait is nil.
//
// A failed write leaves the file ending with the last whole line (a line cut
// short by a full disk is cut off again) and makes Append return false with
// the system's reason; the caller then drops the object.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace zorm {

class LogFile {
public:
    // Runs on the worker before each sync; a test holds the worker there.
    using SyncHook = std::function<void()>;

    // Creates `path` (replacing a file of that name) for writing. On failure
    // returns null and sets `reason` to the system's text. On POSIX systems
    // the program's SIGXFSZ is ignored from then on, so that a file growing
    // beyond the size limit gives a write error rather than ending the
    // program.
    static std::unique_ptr<LogFile> Create(const std::filesystem::path& path, std::string& reason,
                                           SyncHook beforeSync = {});

    // Waits for the last sync and closes the file.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Writes `line` after the lines before it, once they are on the disk.
    // False, with the system's reason, when this or the previous line's sync
    // failed; the file then holds whole lines only.
    bool Append(std::string_view line, std::string& reason);

    // Bytes appended so far.
    std::uint64_t Size() const { return size_; }

private:
#ifdef _WIN32
    using Handle = void*;
#else
    using Handle = int;
#endif
    LogFile(Handle handle, SyncHook beforeSync);
    void SyncLoop();

    Handle handle_;
    std::uint64_t size_ = 0;
    SyncHook beforeSync_;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Lines written and lines on the disk; the first failure of a write or a
    // sync, after which nothing more is written.
    std::uint64_t written_ = 0;
    std::uint64_t synced_ = 0;
    std::string failure_;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace zorm
