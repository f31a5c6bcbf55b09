#include "data/log_file.h"

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

std::string LastErrorText() {
    return std::system_category().message(static_cast<int>(GetLastError()));
}

bool WriteAll(HANDLE file, std::string_view bytes, std::string& reason) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written == 0) {
            reason = LastErrorText();
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool SyncFile(HANDLE file, std::string& reason) {
    if (FlushFileBuffers(file) != 0) {
        return true;
    }
    reason = LastErrorText();
    return false;
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

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

bool WriteAll(int fd, std::string_view bytes, std::string& reason) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            // A write that takes nothing and reports nothing: call it a full
            // disk rather than loop.
            reason = ErrnoText(written < 0 ? errno : ENOSPC);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool SyncFile(int fd, std::string& reason) {
    if (::fdatasync(fd) == 0) {
        return true;
    }
    reason = ErrnoText(errno);
    return false;
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

} // namespace

std::unique_ptr<LogFile> LogFile::Create(const std::filesystem::path& path, std::string& reason,
                                         SyncHook beforeSync) {
#ifdef _WIN32
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = LastErrorText();
        return nullptr;
    }
#else
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, nullptr);
    const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle < 0) {
        reason = ErrnoText(errno);
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
    if (!WriteAll(handle_, line, failure)) {
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
