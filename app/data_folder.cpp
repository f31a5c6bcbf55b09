#include "app/data_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <unistd.h>

namespace zorm {

namespace fs = std::filesystem;

std::string DataFolderError::Message() const {
    const char* step = What == Step::Create  ? "cannot create the data folder "
                       : What == Step::Write ? "cannot write in the data folder "
                                             : "cannot enter the data folder ";
    return step + Folder.string() + ": " + std::strerror(Error);
}

std::string DataFolderError::CzechMessage() const {
    const char* step = What == Step::Create  ? "Datovou složku nelze vytvořit:\n"
                       : What == Step::Write ? "Do datové složky nelze zapisovat:\n"
                                             : "Datovou složku nelze otevřít:\n";
    return step + Folder.string() + "\n(" + std::strerror(Error) + ")";
}

std::optional<DataFolderError> EnterDataFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        return DataFolderError{DataFolderError::Step::Create, folder, ec ? ec.value() : ENOTDIR};
    }
    // A file the program can make, made and removed again at once.
    std::string probe = (folder / ".zorm5816-XXXXXX").string();
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        return DataFolderError{DataFolderError::Step::Write, folder, errno};
    }
    ::close(fd);
    ::unlink(probe.c_str());
    fs::current_path(folder, ec);
    if (ec) {
        return DataFolderError{DataFolderError::Step::Enter, folder, ec.value()};
    }
    return std::nullopt;
}

} // namespace zorm
