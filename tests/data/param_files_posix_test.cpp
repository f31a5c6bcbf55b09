// Saves on POSIX file systems: through symbolic links, over files of other
// owners, and in a directory that takes no new files.
#include "data/param_files.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zorm {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The unprivileged user and group of Debian.
constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;
// Names the file that the run as nobody creates when it reaches its end.
constexpr const char* RanAsNobody = "ZORM_TEST_RAN_AS_NOBODY";

Bytes Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Put(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

struct stat StatOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::lstat(file.c_str(), &info), 0) << file;
    return info;
}

// The three saves.
struct Save {
    const char* name;
    std::function<bool(const Context&)> run;

    // What the save writes for `context` where nothing is in its way.
    Bytes Writes(const Context& context) const {
        test::ScratchDirectory elsewhere(test::ScratchDirectory::Enter);
        EXPECT_TRUE(run(context));
        return Contents(name);
    }
};

const Save Saves[] = {
    {ParametersFileName, SaveParameters},
    {ConstantsFileName, SaveConstants},
    {ConstantsTextFileName, [](const Context& c) { return ExportConstantsText(c, '.'); }},
};

// Values that show up in every one of the three files.
Context NewValues() {
    Context context;
    context.DeviceSettings.PortNumber = 7;
    context.UserParams.Coefficients.A1(2) = 0.25;
    context.PolyCoeffs.A0(3) = -12.5;
    return context;
}

// A working directory `work` and a directory `shared` beside it.
class FilesElsewhere : public ::testing::Test {
protected:
    FilesElsewhere() {
        fs::create_directory(work);
        fs::create_directory(shared);
        fs::current_path(work);
    }

    test::ScratchDirectory scratch;
    fs::path work = scratch.Path() / "work";
    fs::path shared = scratch.Path() / "shared";
    test::WorkingDirectory inside{scratch.Path()};
};

TEST_F(FilesElsewhere, SaveThroughALinkReplacesTheFileItLeadsToAndKeepsTheLink) {
    const Context context = NewValues();
    for (const Save& save : Saves) {
        SCOPED_TRACE(save.name);
        // A relative link to a link with an absolute path, and one link.
        const fs::path real = shared / (std::string(save.name) + ".real");
        Put(real, "old contents");
        fs::permissions(real,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        const ino_t oldInode = StatOf(real).st_ino;
        const std::string hop = std::string(save.name) + ".hop";
        fs::create_symlink(real, shared / hop);
        fs::create_symlink("../shared/" + hop, save.name);

        ASSERT_TRUE(save.run(context));
        EXPECT_TRUE(fs::is_symlink(save.name));
        EXPECT_EQ(fs::read_symlink(save.name), "../shared/" + hop);
        EXPECT_EQ(fs::read_symlink(shared / hop), real);
        EXPECT_EQ(Contents(real), save.Writes(context));
        // Replaced beside itself, not rewritten, and with its mode.
        EXPECT_NE(StatOf(real).st_ino, oldInode);
        EXPECT_EQ(fs::status(real).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    Context loaded;
    ASSERT_TRUE(LoadParameters(loaded));
    ASSERT_TRUE(LoadConstants(loaded));
    EXPECT_EQ(loaded.DeviceSettings.PortNumber, 7);
    EXPECT_EQ(loaded.PolyCoeffs.A0(3), -12.5);
    // No temporary file is left on either side.
    EXPECT_EQ(test::EntryNames(work).size(), 3u);
    EXPECT_EQ(test::EntryNames(shared).size(), 6u);
}

TEST_F(FilesElsewhere, DanglingLinksAndLoopsFailAndWriteNothing) {
    fs::create_symlink("../shared/missing.par", ParametersFileName);
    fs::create_symlink("loop", ConstantsFileName);
    fs::create_symlink(ConstantsFileName, "loop");
    fs::create_symlink(shared / "no-such-folder" / "export.txt", ConstantsTextFileName);
    const auto before = test::EntryNames(work);

    const Context context = NewValues();
    for (const Save& save : Saves) {
        SCOPED_TRACE(save.name);
        EXPECT_FALSE(save.run(context));
    }
    EXPECT_EQ(test::EntryNames(work), before);
    EXPECT_TRUE(test::EntryNames(shared).empty());
    EXPECT_EQ(fs::read_symlink(ParametersFileName), "../shared/missing.par");
    EXPECT_EQ(fs::read_symlink(ConstantsFileName), "loop");
    EXPECT_TRUE(fs::is_symlink(ConstantsTextFileName));
}

// Root saving for another user: the operator must still own the file.
TEST_F(FilesElsewhere, SaveAsRootKeepsTheOwnerOfTheFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to make files of another owner";
    }
    const Context context = NewValues();
    for (const Save& save : Saves) {
        SCOPED_TRACE(save.name);
        Put(save.name, "old contents");
        ASSERT_EQ(::chown(save.name, Nobody, NoGroup), 0);
        ASSERT_EQ(::chmod(save.name, 0664), 0);
        ASSERT_TRUE(save.run(context));
        const struct stat info = StatOf(save.name);
        EXPECT_EQ(info.st_uid, Nobody);
        EXPECT_EQ(info.st_gid, NoGroup);
        EXPECT_EQ(info.st_mode & 07777, 0664u);
        EXPECT_EQ(Contents(save.name), save.Writes(context));
    }
}

// Root writes in any directory, so this test runs again as nobody when the
// tests run as root: setpriv starts a copy of this program (which nobody may
// not reach where it was built) with only this test selected.
TEST(InPlaceRewrite, WritableFileInADirectoryThatTakesNoNewFilesIsRewritten) {
    const char* name = "InPlaceRewrite.WritableFileInADirectoryThatTakesNoNewFilesIsRewritten";
    if (::geteuid() == 0) {
        test::ScratchDirectory place;
        fs::permissions(place.Path(), fs::perms::all | fs::perms::sticky_bit);
        const fs::path copy = place.Path() / "data_tests";
        fs::copy_file("/proc/self/exe", copy);
        fs::permissions(copy, fs::perms::owner_all | fs::perms::group_exec | fs::perms::group_read |
                                  fs::perms::others_exec | fs::perms::others_read);
        const std::string filter = std::string("--gtest_filter=") + name;
        const fs::path marker = place.Path() / "ran";
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            ::setenv("TMPDIR", place.Path().c_str(), 1);
            ::setenv(RanAsNobody, marker.c_str(), 1);
            if (::chdir("/") == 0) {
                ::execlp("setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                         copy.c_str(), filter.c_str(), static_cast<char*>(nullptr));
            }
            ::_exit(127);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        // The run as nobody got as far as the end of the test.
        EXPECT_TRUE(fs::exists(marker));
        return;
    }

    test::ScratchDirectory scratch(test::ScratchDirectory::Enter);
    const Context old;
    const Context context = NewValues();
    std::map<std::string_view, ino_t> inodes;
    for (const Save& save : Saves) {
        ASSERT_TRUE(save.run(old));
        inodes[save.name] = StatOf(save.name).st_ino;
    }
    // A long old export shows that the rewrite drops what the new one lacks.
    Put(ConstantsTextFileName, std::string(4000, 'x'));
    fs::permissions(ConstantsFileName, fs::perms::owner_read);
    fs::permissions(".", fs::perms::owner_write, fs::perm_options::remove);

    for (const Save& save : Saves) {
        SCOPED_TRACE(save.name);
        if (std::string_view(save.name) == ConstantsFileName) {
            EXPECT_FALSE(save.run(context)); // read-only: neither replaced nor rewritten
            EXPECT_EQ(Contents(save.name), save.Writes(old));
            continue;
        }
        EXPECT_TRUE(save.run(context));
        EXPECT_EQ(Contents(save.name), save.Writes(context));
        EXPECT_EQ(StatOf(save.name).st_ino, inodes[save.name]);
    }
    EXPECT_EQ(test::EntryNames(".").size(), 3u);
    // Where there is no file yet, nothing can be saved.
    fs::permissions(".", fs::perms::owner_write, fs::perm_options::add);
    fs::remove(ParametersFileName);
    fs::permissions(".", fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_FALSE(SaveParameters(context));
    EXPECT_EQ(test::EntryNames(".").size(), 2u);

    fs::permissions(".", fs::perms::owner_write, fs::perm_options::add);
    if (const char* marker = std::getenv(RanAsNobody)) {
        Put(marker, "");
    }
}

} // namespace
} // namespace zorm
