#include "data/param_files.h"

#include "data/number_text.h"
#include "data/windows1250.h"
#include "data/write_all.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// How a save keeps the old file: the new contents go to a temporary file
// beside it ("Parametry.par.<process>-<serial>.tmp"), are flushed to disk and
// only then renamed over the old name, so that at every moment the name holds
// either the complete old or the complete new file. A save that fails removes
// its temporary file. A process killed in the middle of a save cannot remove
// its own; the next save of the same file removes such leftovers, but only
// those that no running writer holds (a writer keeps its temporary file
// locked until the rename).
//
// An existing file that is read-only, or that another program holds open
// (locked), is not replaced: the save fails as an exclusive create would.
// On POSIX, rename ignores the old file's permissions and root may open a
// read-only file for writing, so a file without any write bit in its mode
// counts as read-only for everyone.
//
// On POSIX a save through a symbolic link replaces the file the link leads
// to, beside that file, and keeps the link; the replacement keeps the owner,
// group and mode of the file it replaces. Only when the file's directory
// takes no new file (no write permission there) while the file itself may be
// written is the file rewritten in place instead; that is the one save that a
// stop of the machine can leave torn.

namespace zorm {
namespace {

constexpr std::size_t ParametersImageSize = DeviceSettings::Size + 2 * SensorParamSet::Size;
static_assert(ParametersImageSize == ParametersFileSize);
static_assert(CoefficientTable::Size == ConstantsFileSize);

using ParametersImage = std::array<std::uint8_t, ParametersFileSize>;

// The result of reading the start of a file: whether the whole read
// succeeded, and how many bytes landed in the buffer (also on failure).
struct ReadOutcome {
    bool ok = false;
    std::size_t count = 0;
};

std::atomic<unsigned> tempSerial{0};

// "<name>.<process>-<serial>.tmp", unique among the processes of the machine.
std::string TempNameFor(std::string_view name, unsigned long process) {
    std::string temp(name);
    temp += '.';
    temp += std::to_string(process);
    temp += '-';
    temp += std::to_string(tempSerial.fetch_add(1));
    temp += ".tmp";
    return temp;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether `candidate` is a temporary file of a save of `name`.
bool IsTempOf(std::string_view name, std::string_view candidate) {
    constexpr std::string_view suffix = ".tmp";
    if (candidate.size() <= name.size() + 1 + suffix.size() ||
        candidate.substr(0, name.size()) != name || candidate[name.size()] != '.' ||
        candidate.substr(candidate.size() - suffix.size()) != suffix) {
        return false;
    }
    const auto middle =
        candidate.substr(name.size() + 1, candidate.size() - name.size() - 1 - suffix.size());
    const auto dash = middle.find('-');
    return dash != std::string_view::npos && AllDigits(middle.substr(0, dash)) &&
           AllDigits(middle.substr(dash + 1));
}

#ifdef _WIN32

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (Valid()) {
            CloseHandle(handle_);
        }
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    bool Close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

ReadOutcome ReadPrefix(const char* name, std::span<std::uint8_t> buffer) {
    // Share mode 0: nobody else may have the file open meanwhile.
    Handle file(
        CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return {};
    }
    ReadOutcome outcome;
    while (outcome.count < buffer.size()) {
        DWORD got = 0;
        const auto want = static_cast<DWORD>(buffer.size() - outcome.count);
        if (!ReadFile(file.Get(), buffer.data() + outcome.count, want, &got, nullptr)) {
            file.Close();
            return outcome;
        }
        if (got == 0) {
            break;
        }
        outcome.count += got;
    }
    outcome.ok = file.Close();
    return outcome;
}

// A writer keeps its temporary file open unshared, so DeleteFileA fails on it
// until the writer is done; only leftovers of dead writers go.
void RemoveStaleTemps(const char* name) {
    WIN32_FIND_DATAA entry;
    const std::string pattern = std::string(name) + ".*.tmp";
    const HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (IsTempOf(name, entry.cFileName)) {
            DeleteFileA(entry.cFileName);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

bool ReplaceContents(const char* name, std::span<const std::uint8_t> bytes) {
    {
        // Fails when the old file is read-only or held open by someone else.
        // Wine maps the read-only attribute to the file's mode, which does
        // not stop root, so the attribute is checked as well.
        Handle old(CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!old.Valid()) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND) {
                return false;
            }
        } else {
            BY_HANDLE_FILE_INFORMATION info;
            if (!GetFileInformationByHandle(old.Get(), &info) ||
                (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
                return false;
            }
        }
    }
    RemoveStaleTemps(name);
    const std::string temp = TempNameFor(name, GetCurrentProcessId());
    Handle out(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.Valid()) {
        return false;
    }
    bool ok = WriteAll(out.Get(), bytes) && FlushFileBuffers(out.Get()) != 0;
    ok = out.Close() && ok;
    // Fails, leaving the old file, when it became read-only or was opened by
    // another program meanwhile.
    ok = ok &&
         MoveFileExA(temp.c_str(), name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        DeleteFileA(temp.c_str());
    }
    return ok;
}

#else

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (Valid()) {
            ::close(fd_);
        }
    }
    bool Valid() const { return fd_ >= 0; }
    int Get() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// flock() locks stand for the unshared open of other systems: every program
// that uses these files takes one, and a lock held elsewhere makes us fail.
bool LockExclusive(int fd) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool IsRegular(int fd, struct stat& info) {
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

bool HasNoWriteBit(const struct stat& info) {
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// O_NONBLOCK keeps a FIFO or device planted under our name from blocking the
// open; anything but a regular file is then refused.
constexpr int OpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

ReadOutcome ReadPrefix(const char* name, std::span<std::uint8_t> buffer) {
    Fd file(::open(name, O_RDONLY | OpenFlags));
    struct stat info {};
    if (!file.Valid() || !IsRegular(file.Get(), info) || !LockExclusive(file.Get())) {
        return {};
    }
    ReadOutcome outcome;
    while (outcome.count < buffer.size()) {
        const ssize_t got =
            ::read(file.Get(), buffer.data() + outcome.count, buffer.size() - outcome.count);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            file.Close();
            return outcome;
        }
        if (got == 0) {
            break;
        }
        outcome.count += static_cast<std::size_t>(got);
    }
    outcome.ok = file.Close();
    return outcome;
}

// Where a save of `name` goes: a directory and the name of the file in it.
// A symbolic link (a shared or synced location) is followed, through any
// number of links, to the file it leads to, so that the save replaces that
// file beside itself and the link stays. A dangling link or a loop leads
// nowhere: false. Any other name is the file itself, in the working
// directory.
bool SaveTargetOf(const char* name, std::string& directory, std::string& file) {
    struct stat info {};
    if (::lstat(name, &info) != 0 || !S_ISLNK(info.st_mode)) {
        directory = ".";
        file = name;
        return true;
    }
    char* resolved = ::realpath(name, nullptr);
    if (resolved == nullptr) {
        return false;
    }
    const std::string path(resolved);
    std::free(resolved);
    const auto slash = path.rfind('/');
    directory = slash == 0 ? "/" : path.substr(0, slash);
    file = path.substr(slash + 1);
    return true;
}

// A leftover whose lock we can take has no writer any more. The name is
// checked to still lead to the inode we locked before it goes.
void RemoveStaleTemps(int dir, const std::string& name) {
    const int listing = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
    if (listing < 0) {
        return;
    }
    DIR* entries = ::fdopendir(listing);
    if (entries == nullptr) {
        ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (!IsTempOf(name, entry->d_name)) {
            continue;
        }
        Fd temp(::openat(dir, entry->d_name, O_RDONLY | O_NOFOLLOW | OpenFlags));
        struct stat locked {};
        struct stat named {};
        if (temp.Valid() && IsRegular(temp.Get(), locked) && LockExclusive(temp.Get()) &&
            ::fstatat(dir, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
            ::unlinkat(dir, entry->d_name, 0);
        }
    }
    ::closedir(entries);
}

// Makes the rename itself durable. A file system that cannot sync a directory
// says EINVAL; there the rename is as durable as it gets.
bool SyncDirectory(int dir) {
    return ::fsync(dir) == 0 || errno == EINVAL;
}

// The replacement belongs to whom the old file belonged. Only root may give
// a file away; anyone else keeps at least the group when they are in it, and
// otherwise the file becomes theirs, as any file they create. A file system
// without owners (FAT) refuses both, and the save goes on.
void KeepOwner(int fd, const struct stat& old) {
    struct stat now {};
    if (::fstat(fd, &now) != 0 || (now.st_uid == old.st_uid && now.st_gid == old.st_gid)) {
        return;
    }
    if (::fchown(fd, old.st_uid, old.st_gid) == 0 || now.st_gid == old.st_gid) {
        return;
    }
    [[maybe_unused]] const bool groupKept = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
}

// The one way to save a file that we may write in a directory that takes no
// new file: truncate and rewrite it where it is. Should the machine stop in
// the middle, the file is torn.
bool RewriteInPlace(int fd, std::span<const std::uint8_t> bytes) {
    return ::ftruncate(fd, 0) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
}

bool ReplaceContents(const char* name, std::span<const std::uint8_t> bytes) {
    std::string directory;
    std::string file;
    if (!SaveTargetOf(name, directory, file)) {
        return false;
    }
    Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) {
        return false;
    }
    // The old file is held locked until the new one has taken its name.
    Fd old(::openat(dir.Get(), file.c_str(), O_WRONLY | O_NOFOLLOW | OpenFlags));
    struct stat oldInfo {};
    if (old.Valid()) {
        if (!IsRegular(old.Get(), oldInfo) || HasNoWriteBit(oldInfo) || !LockExclusive(old.Get())) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }

    RemoveStaleTemps(dir.Get(), file);
    const std::string temp = TempNameFor(file, static_cast<unsigned long>(::getpid()));
    Fd out(::openat(dir.Get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                    0666));
    if (!out.Valid()) {
        if (old.Valid() && (errno == EACCES || errno == EPERM)) {
            const bool written = RewriteInPlace(old.Get(), bytes);
            return old.Close() && written;
        }
        return false;
    }
    // The lock lives in the open file, so this duplicate keeps the temporary
    // file locked after `out` is closed, until the rename is done. Like every
    // descriptor here it is not handed on to programs we start.
    Fd lockKeeper(::fcntl(out.Get(), F_DUPFD_CLOEXEC, 0));
    bool ok = lockKeeper.Valid() && LockExclusive(out.Get()) && WriteAll(out.Get(), bytes);
    // The replacement keeps the owner and the permissions of the file it
    // replaces; the owner first, since a change of owner clears set-id bits.
    if (ok && old.Valid()) {
        KeepOwner(out.Get(), oldInfo);
        ok = ::fchmod(out.Get(), oldInfo.st_mode & 07777) == 0;
    }
    ok = ok && ::fsync(out.Get()) == 0;
    ok = out.Close() && ok;
    ok = ok && ::renameat(dir.Get(), temp.c_str(), dir.Get(), file.c_str()) == 0;
    if (!ok) {
        ::unlinkat(dir.Get(), temp.c_str(), 0);
        return false;
    }
    // The new file has its name now; a failed directory sync is still
    // reported, since nothing then promises that the rename survives a crash.
    return SyncDirectory(dir.Get());
}

#endif

ParametersImage ParametersToBytes(const Context& context) {
    ParametersImage image{};
    const auto settings = context.DeviceSettings.ToBytes();
    const auto user = context.UserParams.ToBytes();
    const auto factory = context.FactoryParams.ToBytes();
    auto at = std::copy(settings.begin(), settings.end(), image.begin());
    at = std::copy(user.begin(), user.end(), at);
    std::copy(factory.begin(), factory.end(), at);
    return image;
}

void ParametersFromBytes(const ParametersImage& image, Context& context) {
    const std::span<const std::uint8_t, ParametersFileSize> bytes(image);
    context.DeviceSettings = DeviceSettings::FromBytes(bytes.first<DeviceSettings::Size>());
    context.UserParams =
        SensorParamSet::FromBytes(bytes.subspan<DeviceSettings::Size, SensorParamSet::Size>());
    context.FactoryParams = SensorParamSet::FromBytes(
        bytes.subspan<DeviceSettings::Size + SensorParamSet::Size, SensorParamSet::Size>());
}

// Reads the start of `name` over `image`: a short file replaces only the
// bytes it has, and a file that cannot be opened replaces none. Returns the
// read's result and whether any byte was replaced.
template <std::size_t N>
ReadOutcome LoadOver(const char* name, std::array<std::uint8_t, N>& image) {
    std::array<std::uint8_t, N> read{};
    const ReadOutcome outcome = ReadPrefix(name, read);
    std::copy_n(read.begin(), outcome.count, image.begin());
    return outcome;
}

std::string ConstantsText(const PolyCoeffs& coeffs, char sep) {
    std::string text = "ZORM5816: konstanty polynomu pro snímače teploty\r\n";
    for (int s = 1; s <= 3; ++s) {
        const std::string k = "K" + std::to_string(s);
        text += "\r\n";
        text += k + "A3=" + general(coeffs.A3(s), 8, sep);
        text += ",  " + k + "A2=" + general(coeffs.A2(s), 8, sep);
        text += ",  " + k + "A1=" + general(coeffs.A1(s), 8, sep);
        text += ",  " + k + "A0=" + general(coeffs.A0(s), 8, sep);
        text += "\r\n";
    }
    return ToWindows1250(text);
}

} // namespace

bool SaveParameters(const Context& context) {
    return ReplaceContents(ParametersFileName, ParametersToBytes(context));
}

bool LoadParameters(Context& context) {
    auto image = ParametersToBytes(context);
    const ReadOutcome outcome = LoadOver(ParametersFileName, image);
    if (outcome.count > 0) {
        ParametersFromBytes(image, context);
    }
    return outcome.ok;
}

bool SaveConstants(const Context& context) {
    return ReplaceContents(ConstantsFileName, context.PolyCoeffs.ToBytes());
}

bool LoadConstants(Context& context) {
    auto image = context.PolyCoeffs.ToBytes();
    const ReadOutcome outcome = LoadOver(ConstantsFileName, image);
    if (outcome.count > 0) {
        context.PolyCoeffs = PolyCoeffs::FromBytes(image);
    }
    return outcome.ok;
}

bool ExportConstantsText(const Context& context, char sep) {
    const std::string text = ConstantsText(context.PolyCoeffs, sep);
    return ReplaceContents(
        ConstantsTextFileName,
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool SaveFileContents(const char* name, std::span<const std::uint8_t> bytes) {
    return ReplaceContents(name, bytes);
}

} // namespace zorm
