#include "data/param_files.h"
#include "data/windows1250.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace zorm {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const char* name) {
    const Bytes bytes = ReadBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const char* name, const Bytes& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

Bytes Concat(std::initializer_list<std::span<const std::uint8_t>> parts) {
    Bytes bytes;
    for (const auto part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

// The file image of the three records that Parametry.par holds.
Bytes ParametersImageOf(const Context& context) {
    return Concat({context.DeviceSettings.ToBytes(), context.UserParams.ToBytes(),
                   context.FactoryParams.ToBytes()});
}

Context ContextFromImage(const Bytes& image, const CoefficientTable& poly = {}) {
    const std::span<const std::uint8_t, ParametersFileSize> bytes(image.data(), ParametersFileSize);
    Context context;
    context.DeviceSettings = DeviceSettings::FromBytes(bytes.first<DeviceSettings::Size>());
    context.UserParams = SensorParamSet::FromBytes(bytes.subspan<5, SensorParamSet::Size>());
    context.FactoryParams = SensorParamSet::FromBytes(bytes.subspan<829, SensorParamSet::Size>());
    context.PolyCoeffs = poly;
    return context;
}

Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(rng());
    }
    return bytes;
}

// A context in which every byte of Parametry.par and ZORM5816.par is set,
// padding, NaNs and counts above 30 included.
Context RandomContext(unsigned seed) {
    const Bytes poly = RandomBytes(ConstantsFileSize, seed + 1000);
    return ContextFromImage(
        RandomBytes(ParametersFileSize, seed),
        CoefficientTable::FromBytes(std::span<const std::uint8_t, 96>(poly.data(), 96)));
}

// Each test runs in a fresh directory of its own as its working directory.
class FilesTest : public ::testing::Test {
protected:
    test::ScratchDirectory scratch_{test::ScratchDirectory::Enter};

    // Everything in the working directory besides the three files.
    static std::vector<std::string> StrayFiles() {
        std::vector<std::string> strays = test::EntryNames(".");
        std::erase_if(strays, [](const std::string& name) {
            return name == ParametersFileName || name == ConstantsFileName ||
                   name == ConstantsTextFileName;
        });
        return strays;
    }
};

// The header line in Windows-1250: "í" is 0xED and "č" 0xE8.
const std::string Header = "ZORM5816: konstanty polynomu pro sn\xEDma\xE8"
                           "e teploty\r\n";

TEST(ConstantsTextHeader, Is48BytesInWindows1250) {
    EXPECT_EQ(Header.size(), 48u + 2u);
    EXPECT_EQ(ToWindows1250("ZORM5816: konstanty polynomu pro snímače teploty") + "\r\n", Header);
}

TEST_F(FilesTest, ExportWritesTheSevenLinesForZeroAndIdentityCoefficients) {
    Context context;
    ASSERT_TRUE(ExportConstantsText(context, '.'));
    EXPECT_EQ(ReadText(ConstantsTextFileName), Header + "\r\n"
                                                        "K1A3=0,  K1A2=0,  K1A1=0,  K1A0=0\r\n"
                                                        "\r\n"
                                                        "K2A3=0,  K2A2=0,  K2A1=0,  K2A0=0\r\n"
                                                        "\r\n"
                                                        "K3A3=0,  K3A2=0,  K3A1=0,  K3A0=0\r\n");

    for (int s = 1; s <= 3; ++s) {
        context.PolyCoeffs.A1(s) = 1.0;
    }
    ASSERT_TRUE(ExportConstantsText(context, ','));
    EXPECT_EQ(ReadText(ConstantsTextFileName), Header + "\r\n"
                                                        "K1A3=0,  K1A2=0,  K1A1=1,  K1A0=0\r\n"
                                                        "\r\n"
                                                        "K2A3=0,  K2A2=0,  K2A1=1,  K2A0=0\r\n"
                                                        "\r\n"
                                                        "K3A3=0,  K3A2=0,  K3A1=1,  K3A0=0\r\n");
    EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(FilesTest, ExportWritesEachCoefficientInItsPlaceWithTheSeparatorGiven) {
    Context context;
    auto& c = context.PolyCoeffs;
    c.A3(1) = 1.234567891e-12;
    c.A2(1) = -3.3e-8;
    c.A1(1) = 0.0025;
    c.A0(1) = -12.5;
    c.A3(2) = 0.00001234;
    c.A2(2) = 0.0001234;
    c.A1(2) = 100000000.0;
    c.A0(2) = 99999999.0;
    c.A3(3) = std::numeric_limits<double>::infinity();
    c.A2(3) = std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0);
    c.A1(3) = 1.5e7;
    c.A0(3) = 12345678.9;

    ASSERT_TRUE(ExportConstantsText(context, '.'));
    EXPECT_EQ(ReadText(ConstantsTextFileName),
              Header + "\r\n"
                       "K1A3=1.2345679E-12,  K1A2=-3.3E-8,  K1A1=0.0025,  K1A0=-12.5\r\n"
                       "\r\n"
                       "K2A3=1.234E-5,  K2A2=0.0001234,  K2A1=1E8,  K2A0=99999999\r\n"
                       "\r\n"
                       "K3A3=INF,  K3A2=-NAN,  K3A1=15000000,  K3A0=12345679\r\n");

    ASSERT_TRUE(ExportConstantsText(context, ','));
    EXPECT_EQ(ReadText(ConstantsTextFileName),
              Header + "\r\n"
                       "K1A3=1,2345679E-12,  K1A2=-3,3E-8,  K1A1=0,0025,  K1A0=-12,5\r\n"
                       "\r\n"
                       "K2A3=1,234E-5,  K2A2=0,0001234,  K2A1=1E8,  K2A0=99999999\r\n"
                       "\r\n"
                       "K3A3=INF,  K3A2=-NAN,  K3A1=15000000,  K3A0=12345679\r\n");
}

TEST_F(FilesTest, SavedFilesHoldTheRecordImagesAndLoadBackEveryByte) {
    const Context saved = RandomContext(7);
    ASSERT_TRUE(SaveParameters(saved));
    ASSERT_TRUE(SaveConstants(saved));
    EXPECT_EQ(ReadBytes(ParametersFileName), ParametersImageOf(saved));
    EXPECT_EQ(ReadBytes(ConstantsFileName), Concat({saved.PolyCoeffs.ToBytes()}));

    Context loaded = RandomContext(8);
    ASSERT_TRUE(LoadParameters(loaded));
    ASSERT_TRUE(LoadConstants(loaded));
    EXPECT_EQ(ParametersImageOf(loaded), ParametersImageOf(saved));
    EXPECT_EQ(loaded.UserParams.Padding, saved.UserParams.Padding);
    EXPECT_EQ(loaded.FactoryParams.Padding, saved.FactoryParams.Padding);
    EXPECT_EQ(loaded.PolyCoeffs, saved.PolyCoeffs);
    EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(FilesTest, LoadReplacesExactlyTheBytesTheFileHas) {
    for (const std::size_t size : {0u, 5u, 100u, 1653u, 2000u}) {
        SCOPED_TRACE("Parametry.par of " + std::to_string(size) + " bytes");
        Context context = RandomContext(1);
        const Bytes before = ParametersImageOf(context);
        Bytes file(size);
        for (std::size_t i = 0; i < size; ++i) {
            file[i] = static_cast<std::uint8_t>(~before[i % before.size()]);
        }
        WriteBytes(ParametersFileName, file);

        ASSERT_TRUE(LoadParameters(context));
        const Bytes after = ParametersImageOf(context);
        for (std::size_t i = 0; i < after.size(); ++i) {
            ASSERT_EQ(after[i], i < size ? file[i] : before[i]) << "byte " << i;
        }
        EXPECT_EQ(context.PolyCoeffs, RandomContext(1).PolyCoeffs);
    }
    for (const std::size_t size : {0u, 8u, 50u, 96u, 200u}) {
        SCOPED_TRACE("ZORM5816.par of " + std::to_string(size) + " bytes");
        Context context = RandomContext(2);
        const Bytes before = Concat({context.PolyCoeffs.ToBytes()});
        const Bytes file = RandomBytes(size, 3);
        WriteBytes(ConstantsFileName, file);

        ASSERT_TRUE(LoadConstants(context));
        const Bytes after = Concat({context.PolyCoeffs.ToBytes()});
        for (std::size_t i = 0; i < after.size(); ++i) {
            ASSERT_EQ(after[i], i < size ? file[i] : before[i]) << "byte " << i;
        }
        EXPECT_EQ(ParametersImageOf(context), ParametersImageOf(RandomContext(2)));
    }
}

TEST_F(FilesTest, LoadWithoutAReadableFileFailsAndChangesNothing) {
    Context context = RandomContext(4);
    EXPECT_FALSE(LoadParameters(context));
    EXPECT_FALSE(LoadConstants(context));

    fs::create_directory(ParametersFileName);
    fs::create_directory(ConstantsFileName);
    EXPECT_FALSE(LoadParameters(context));
    EXPECT_FALSE(LoadConstants(context));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo("fifo", 0644), 0);
    fs::remove(ParametersFileName);
    fs::rename("fifo", ParametersFileName);
    EXPECT_FALSE(LoadParameters(context)); // neither blocks nor reads a FIFO
#endif

    const Context untouched = RandomContext(4);
    EXPECT_EQ(ParametersImageOf(context), ParametersImageOf(untouched));
    EXPECT_EQ(context.PolyCoeffs, untouched.PolyCoeffs);
}

// The process running these tests is root on CI, which may write any file
// whatever its permissions; a file without any write bit must still count as
// read-only.
TEST_F(FilesTest, ReadOnlyTextFileFailsTheExportUntilItIsWritableAgain) {
    Context context;
    context.PolyCoeffs.A0(2) = -12.5;
    const std::string old = "previous export\r\n";
    WriteBytes(ConstantsTextFileName, Bytes(old.begin(), old.end()));
    fs::permissions(ConstantsTextFileName,
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    EXPECT_TRUE(SaveConstants(context));
    EXPECT_FALSE(ExportConstantsText(context, '.'));
    EXPECT_EQ(ReadBytes(ConstantsFileName), Concat({context.PolyCoeffs.ToBytes()}));
    EXPECT_EQ(ReadText(ConstantsTextFileName), old);
    EXPECT_TRUE(StrayFiles().empty());

    fs::permissions(ConstantsTextFileName, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(ExportConstantsText(context, '.'));
    const std::string text = ReadText(ConstantsTextFileName);
    EXPECT_EQ(text.rfind(Header, 0), 0u);
    EXPECT_NE(text.find("\r\nK2A3=0,  K2A2=0,  K2A1=0,  K2A0=-12.5\r\n"), std::string::npos);
    std::size_t lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2)) {
        ++lines;
    }
    EXPECT_EQ(lines, 7u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(FilesTest, ReadOnlyParameterFileIsKeptAndStillLoads) {
    const Context old = RandomContext(5);
    ASSERT_TRUE(SaveParameters(old));
    fs::permissions(ParametersFileName, fs::perms::owner_read);

    EXPECT_FALSE(SaveParameters(RandomContext(6)));
    EXPECT_EQ(ReadBytes(ParametersFileName), ParametersImageOf(old));
    EXPECT_TRUE(StrayFiles().empty());
    Context loaded;
    EXPECT_TRUE(LoadParameters(loaded));
    EXPECT_EQ(ParametersImageOf(loaded), ParametersImageOf(old));
}

// Modes, fork, rlimits and flock: the Windows counterparts of these cases are
// in param_files_win32_test.cpp.
#ifndef _WIN32
TEST_F(FilesTest, ReplacedFileKeepsItsPermissions) {
    ASSERT_TRUE(SaveConstants(RandomContext(1)));
    fs::permissions(ConstantsFileName,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(SaveConstants(RandomContext(2)));
    EXPECT_EQ(fs::status(ConstantsFileName).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// Runs `save` in a child process whose files may not grow beyond `limit`
// bytes, as on a full disk; returns what the save returned.
bool SavedWithFileSizeLimit(rlim_t limit, const std::function<bool()>& save) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN); // the write then fails with EFBIG
        const rlimit fileSize{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        ::_exit(save() ? 10 : 20);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 10 || WEXITSTATUS(status) == 20))
        << "status " << status;
    return WIFEXITED(status) && WEXITSTATUS(status) == 10;
}

TEST_F(FilesTest, SaveOnAFullDiskFailsAndKeepsTheOldFile) {
    const Context old = RandomContext(11);
    const Context next = RandomContext(12);
    ASSERT_TRUE(SaveParameters(old));
    ASSERT_TRUE(SaveConstants(old));
    ASSERT_TRUE(ExportConstantsText(old, '.'));
    const Bytes oldParameters = ReadBytes(ParametersFileName);
    const Bytes oldConstants = ReadBytes(ConstantsFileName);
    const Bytes oldText = ReadBytes(ConstantsTextFileName);

    EXPECT_FALSE(SavedWithFileSizeLimit(1000, [&] { return SaveParameters(next); }));
    EXPECT_FALSE(SavedWithFileSizeLimit(50, [&] { return SaveConstants(next); }));
    EXPECT_FALSE(SavedWithFileSizeLimit(100, [&] { return ExportConstantsText(next, ','); }));
    EXPECT_EQ(ReadBytes(ParametersFileName), oldParameters);
    EXPECT_EQ(ReadBytes(ConstantsFileName), oldConstants);
    EXPECT_EQ(ReadBytes(ConstantsTextFileName), oldText);
    EXPECT_TRUE(StrayFiles().empty());

    // With room enough the same saves go through in the child.
    EXPECT_TRUE(SavedWithFileSizeLimit(1 << 20, [&] { return SaveParameters(next); }));
    EXPECT_TRUE(SavedWithFileSizeLimit(1 << 20, [&] { return SaveConstants(next); }));
    EXPECT_TRUE(SavedWithFileSizeLimit(1 << 20, [&] { return ExportConstantsText(next, ','); }));
    EXPECT_EQ(ReadBytes(ParametersFileName), ParametersImageOf(next));
    EXPECT_EQ(ReadBytes(ConstantsFileName), Concat({next.PolyCoeffs.ToBytes()}));
    EXPECT_NE(ReadBytes(ConstantsTextFileName), oldText);
}

TEST_F(FilesTest, FileLockedByAnotherHolderIsNeitherReadNorReplaced) {
    const Context old = RandomContext(21);
    const Context next = RandomContext(22);
    ASSERT_TRUE(SaveParameters(old));
    ASSERT_TRUE(SaveConstants(old));

    for (const bool parameters : {true, false}) {
        const char* name = parameters ? ParametersFileName : ConstantsFileName;
        SCOPED_TRACE(name);
        const int holder = ::open(name, O_RDONLY);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(::flock(holder, LOCK_EX), 0);

        Context loaded = next;
        EXPECT_FALSE(parameters ? SaveParameters(next) : SaveConstants(next));
        EXPECT_FALSE(parameters ? LoadParameters(loaded) : LoadConstants(loaded));
        EXPECT_EQ(ParametersImageOf(loaded), ParametersImageOf(next));
        EXPECT_EQ(loaded.PolyCoeffs, next.PolyCoeffs);
        EXPECT_TRUE(StrayFiles().empty());

        ::close(holder);
        EXPECT_TRUE(parameters ? LoadParameters(loaded) : LoadConstants(loaded));
    }
    EXPECT_EQ(ReadBytes(ParametersFileName), ParametersImageOf(old));
    EXPECT_EQ(ReadBytes(ConstantsFileName), Concat({old.PolyCoeffs.ToBytes()}));
}

TEST_F(FilesTest, KilledSaveLeavesTheOldOrTheNewFileNeverAMix) {
    const Context a = RandomContext(31);
    const Context b = RandomContext(32);
    const Bytes imageA = ParametersImageOf(a);
    const Bytes imageB = ParametersImageOf(b);
    ASSERT_TRUE(SaveParameters(a));

    // Kill at random moments within a few saves' time, whatever the disk.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(SaveParameters(i % 2 ? a : b));
    }
    const auto saveUs = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count() /
                        10;
    std::mt19937 rng(5816);
    std::uniform_int_distribution<long> delayUs(0, 4 * saveUs + 200);

    int sawA = 0;
    int sawB = 0;
    int leftTemp = 0;
    for (int round = 0; round < 120; ++round) {
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            for (;;) {
                SaveParameters(b);
                SaveParameters(a);
            }
        }
        ::usleep(static_cast<useconds_t>(delayUs(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);

        const Bytes now = ReadBytes(ParametersFileName);
        ASSERT_TRUE(now == imageA || now == imageB)
            << "round " << round << ": " << now.size() << " bytes of neither contents";
        ++(now == imageA ? sawA : sawB);
        leftTemp += StrayFiles().empty() ? 0 : 1;
    }
    // Both contents seen and killed writers' leftovers show that the kills
    // landed before, inside and after saves.
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0);
    EXPECT_GT(leftTemp, 0);

    ASSERT_TRUE(SaveParameters(b));
    EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(FilesTest, SaveRemovesOnlyLeftoversThatNoWriterHolds) {
    const std::string pid = std::to_string(::getpid() + 1);
    const std::string dead = std::string(ParametersFileName) + "." + pid + "-3.tmp";
    const std::string live = std::string(ParametersFileName) + "." + pid + "-4.tmp";
    const std::vector<std::string> others = {std::string(ParametersFileName) + ".bak",
                                             std::string(ParametersFileName) + ".x-1.tmp",
                                             std::string(ConstantsFileName) + "." + pid + "-3.tmp"};
    for (const auto& name : others) {
        WriteBytes(name.c_str(), {1, 2, 3});
    }
    WriteBytes(dead.c_str(), {1, 2, 3});
    WriteBytes(live.c_str(), {1, 2, 3});
    const int writer = ::open(live.c_str(), O_RDONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);

    ASSERT_TRUE(SaveParameters(RandomContext(1)));
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    for (const auto& name : others) {
        EXPECT_TRUE(fs::exists(name)) << name;
    }

    ::close(writer);
    ASSERT_TRUE(SaveParameters(RandomContext(1)));
    EXPECT_FALSE(fs::exists(live));
}

TEST(Windows1250, EveryCharacterOfTheCodePageBecomesItsByte) {
    // The C library's converter is the reference for the table.
    const iconv_t decoder = ::iconv_open("UTF-8", "CP1250");
    ASSERT_NE(decoder, reinterpret_cast<iconv_t>(-1));
    int defined = 0;
    for (int byte = 0x01; byte <= 0xFF; ++byte) {
        char in = static_cast<char>(byte);
        char out[8] = {};
        char* inPtr = &in;
        char* outPtr = out;
        std::size_t inLeft = 1;
        std::size_t outLeft = sizeof out;
        if (::iconv(decoder, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            continue; // one of the bytes the code page leaves undefined
        }
        ++defined;
        const std::string utf8(out, static_cast<std::size_t>(outPtr - out));
        EXPECT_EQ(ToWindows1250(utf8), std::string(1, in)) << "byte " << byte;
    }
    ::iconv_close(decoder);
    EXPECT_EQ(defined, 255 - 5);
}
#endif

TEST(Windows1250, UnmappableAndBrokenInputBecomesOneQuestionMarkPerCharacterOrBadByte) {
    EXPECT_EQ(ToWindows1250("Ωmega 😀 ž"), "?mega ? \x9E");
    EXPECT_EQ(ToWindows1250("\xC0\xAF"), "??");           // overlong "/"
    EXPECT_EQ(ToWindows1250("\xED\xA0\x80x"), "???x");    // a surrogate
    EXPECT_EQ(ToWindows1250("\xF4\x90\x80\x80"), "????"); // above U+10FFFF
    EXPECT_EQ(ToWindows1250("a\xC5"), "a?");              // cut short at the end
    EXPECT_EQ(ToWindows1250("\xE8\x80"), "??");           // cut short
    EXPECT_EQ(ToWindows1250(std::string("\0\x7F", 2)), std::string("\0\x7F", 2));
}

} // namespace
} // namespace zorm
