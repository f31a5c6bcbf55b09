#include "data/log_file.h"

#include "data/write_all.h"

#include <span>
#include <system_error>
#include <utility>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zorm {

namespace {

#ifdef _WIN32

// The system's reason for the call that failed last.
std::string FailureText() {
    return std::system_category().message(static_cast<int>(GetLastError()));
}

bool SyncData(HANDLE file) {
    return FlushFileBuffers(file) != 0;
}

void CutBack(HANDLE file, std::uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
        SetEndOfFile(file);
    }
}

void CloseFile(HANDLE file) {
    CloseHandle(file);
}

#else

std::string FailureText() {
    return std::generic_category().message(errno);
}

bool SyncData(int fd) {
    return ::fdatasync(fd) == 0;
}

void CutBack(int fd, std::uint64_t size) {
    if (::ftruncate(fd, static_cast<off_t>(size)) == 0) {
        ::lseek(fd, static_cast<off_t>(size), SEEK_SET);
    }
}

void CloseFile(int fd) {
    ::close(fd);
}

// A new file's name reaches the disk with its folder.
void SyncFolderOf(const std::filesystem::path& path) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

#endif

template <typename Handle> bool WriteLine(Handle file, std::string_view line, std::string& reason) {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    if (WriteAll(file, bytes)) {
        return true;
    }
    reason = FailureText();
    return false;
}

template <typename Handle> bool SyncFile(Handle file, std::string& reason) {
    if (SyncData(file)) {
        return true;
    }
    reason = FailureText();
    return false;
}

} // namespace

std::unique_ptr<LogFile> LogFile::Create(const std::filesystem::path& path, std::string& reason,
                                         SyncHook beforeSync) {
#ifdef _WIN32
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = FailureText();
        return nullptr;
    }
#else
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, nullptr);
    const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle < 0) {
        reason = FailureText();
        return nullptr;
    }
    SyncFolderOf(path);
#endif
    return std::unique_ptr<LogFile>(new LogFile(handle, std::move(beforeSync)));
}

LogFile::LogFile(Handle handle, SyncHook beforeSync)
    : handle_(handle), beforeSync_(std::move(beforeSync)) {
    worker_ = std::thread(&LogFile::SyncLoop, this);
}

LogFile::~LogFile() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
    CloseFile(handle_);
}

bool LogFile::Append(std::string_view line, std::string& reason) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return synced_ == written_ || !failure_.empty(); });
        if (!failure_.empty()) {
            reason = failure_;
            return false;
        }
    }
    // The worker is idle now: the file is the caller's alone.
    std::string failure;
    if (!WriteLine(handle_, line, failure)) {
        CutBack(handle_, size_);
        const std::lock_guard lock(mutex_);
        failure_ = failure;
        reason = failure;
        return false;
    }
    size_ += line.size();
    {
        const std::lock_guard lock(mutex_);
        ++written_;
    }
    changed_.notify_all();
    return true;
}

void LogFile::SyncLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || synced_ < written_; });
        if (synced_ == written_) {
            return;
        }
        const std::uint64_t target = written_;
        lock.unlock();
        if (beforeSync_) {
            beforeSync_();
        }
        std::string failure;
        const bool ok = SyncFile(handle_, failure);
        lock.lock();
        synced_ = target;
        if (!ok && failure_.empty()) {
            failure_ = failure;
        }
        changed_.notify_all();
    }
}

} // namespace zorm
