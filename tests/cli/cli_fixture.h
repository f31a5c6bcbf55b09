// zorm5816-cli run in process over a scratch data folder, with the port
// numbers of a machine without serial devices: only the COMn entries of the
// folder (zorm5816-sim) are ports.
#pragma once

#include "cli/cli.h"
#include "data/context.h"
#include "data/param_files.h"
#include "sim/pty_process.h"
#include "tests/support/fake_machine.h"
#include "tests/support/scratch_directory.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace zorm::test {

struct CliResult {
    int Status = -1;
    std::string Out;
    std::string Err;
    // With --json: stdout as one JSON object (empty when it is none).
    QJsonObject Json;
};

// Bytes of a file, empty when there is none.
inline std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliTest : public ::testing::Test {
protected:
    CliTest() { environment.Roots = machine.Roots(); }

    // Runs the command with --data-dir naming the folder. With --json among
    // the arguments, stdout must be one JSON object on one line, whatever
    // the outcome; an error must be one line on stderr.
    CliResult Run(std::vector<std::string> args) {
        args.push_back("--data-dir");
        args.push_back(Data().string());
        const std::vector<std::string_view> views(args.begin(), args.end());
        std::ostringstream out;
        std::ostringstream err;
        CliResult result;
        result.Status = cli::Run(views, out, err, environment);
        result.Out = out.str();
        result.Err = err.str();
        if (std::find(args.begin(), args.end(), "--json") != args.end()) {
            QJsonParseError error{};
            const QJsonDocument document =
                QJsonDocument::fromJson(QByteArray::fromStdString(result.Out), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << result.Out;
            EXPECT_TRUE(document.isObject()) << result.Out;
            EXPECT_EQ(result.Out.find('\n'), result.Out.size() - 1) << result.Out;
            result.Json = document.object();
            EXPECT_EQ(result.Json.value("exit").toInt(-1), result.Status) << result.Out;
        }
        if (result.Status != cli::Done) {
            // The error's line is the last one on stderr.
            EXPECT_TRUE(result.Err.ends_with("\n")) << result.Err;
            const std::size_t line = result.Err.rfind('\n', result.Err.size() - 2);
            const std::string last = result.Err.substr(line == std::string::npos ? 0 : line + 1);
            EXPECT_TRUE(last.starts_with("zorm5816-cli: ")) << result.Err;
        }
        return result;
    }

    // zorm5816-sim at port n of the data folder.
    void StartSimulator(int port, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--dir", Data().string(), "--port", std::to_string(port),
                                   "--log", Log().string()});
        simulators.push_back(std::make_unique<sim::SimulatorProcess>(ZORM_SIM_PROGRAM, args));
        ASSERT_FALSE(simulators.back()->ReadyLine().empty()) << "the simulator did not start";
    }
    // Stops the simulators and returns the frames they received, without
    // their times ("25 31 0d -> reply").
    std::vector<std::string> StopSimulators() {
        simulators.clear();
        std::vector<std::string> frames;
        std::ifstream in(Log());
        for (std::string line; std::getline(in, line);) {
            frames.push_back(line.substr(line.find(": ") + 2));
        }
        std::filesystem::remove(Log());
        return frames;
    }

    // Parametry.par of the folder from `context`.
    void SaveParameters(const Context& context) {
        const WorkingDirectory inside(Data());
        ASSERT_TRUE(zorm::SaveParameters(context));
    }

    // Every file of the folder with its bytes (the simulators' links are
    // left out).
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(Data())) {
            if (!entry.is_symlink()) {
                files[entry.path().filename().string()] = FileBytes(entry.path());
            }
        }
        return files;
    }

    const std::filesystem::path& Data() const { return data_.Path(); }
    std::filesystem::path Log() const { return log_.Path() / "frames.log"; }

    FakeMachine machine;
    cli::Environment environment;
    std::vector<std::unique_ptr<sim::SimulatorProcess>> simulators;

private:
    ScratchDirectory data_;
    ScratchDirectory log_;
};

// Makes the data folder and its files unwritable while it lives: by their
// permissions, and as root (whom permissions do not stop) by running as
// nobody, who may read them.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::filesystem::path& folder) : folder_(folder) {
        namespace fs = std::filesystem;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (!entry.is_symlink()) {
                fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::group_read |
                                                  fs::perms::others_read);
            }
        }
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
        if (::geteuid() == 0) {
            EXPECT_EQ(::seteuid(65534), 0);
            asNobody_ = true;
        }
    }
    ~ReadOnlyFolder() {
        if (asNobody_) {
            EXPECT_EQ(::seteuid(0), 0);
        }
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    std::filesystem::path folder_;
    bool asNobody_ = false;
};

} // namespace zorm::test
