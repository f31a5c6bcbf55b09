// The data folder: where Parametry.par, ZORM5816.par, ZORM5816.txt, the
// COMn entries and Porty.txt live.
//
// The program enters its data folder (makes it the working directory) before
// the main window exists, so every file of the program keeps its plain
// relative name, exactly as when the program is started in that folder from a
// terminal. Without a switch naming a folder the working directory is the
// data folder and nothing changes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zorm {

struct DataFolderError {
    enum class Step { Create, Write, Enter };
    Step What = Step::Create;
    std::filesystem::path Folder;
    int Error = 0; // errno

    // "cannot create the data folder /x: ..." for standard error.
    std::string Message() const;
    // The same for the operator, in Czech.
    std::string CzechMessage() const;
};

// Makes `folder` (and its parents) when missing, checks that files can be
// made in it and enters it. Nothing is left behind in it by the check, and
// when any step fails the working directory stays where it was.
std::optional<DataFolderError> EnterDataFolder(const std::filesystem::path& folder);

} // namespace zorm
