// The files on Windows: what other programs' handles, the read-only attribute
// and the replacement by MoveFileEx make of a save and a load, and the code
// page table against the system's own converter.
#include "data/param_files.h"
#include "data/windows1250.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace zorm {
namespace {

namespace fs = std::filesystem;

// A context whose three saved records and coefficients all depend on `n`.
Context Numbered(std::uint8_t n) {
    Context context;
    context.DeviceSettings.PortNumber = n;
    context.DeviceSettings.DeviceAddress = static_cast<std::uint8_t>(n + 1);
    context.UserParams.Coefficients.A1(2) = n * 0.5;
    context.FactoryParams.Count(2) = n;
    context.PolyCoeffs.A0(3) = -n;
    return context;
}

void ExpectSameFiles(const Context& loaded, const Context& saved) {
    EXPECT_EQ(loaded.DeviceSettings, saved.DeviceSettings);
    EXPECT_EQ(loaded.UserParams, saved.UserParams);
    EXPECT_EQ(loaded.FactoryParams, saved.FactoryParams);
    EXPECT_EQ(loaded.PolyCoeffs, saved.PolyCoeffs);
}

class Win32Files : public ::testing::Test {
protected:
    test::ScratchDirectory scratch_{test::ScratchDirectory::Enter};
};

TEST_F(Win32Files, FileThatAnotherProgramHasOpenIsNeitherReadNorReplaced) {
    const Context old = Numbered(1);
    const Context next = Numbered(2);
    ASSERT_TRUE(SaveParameters(old));
    ASSERT_TRUE(SaveConstants(old));
    const auto files = test::EntryNames(".");

    // Even a holder that shares everything keeps our unshared open out.
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
        for (const bool parameters : {true, false}) {
            const char* name = parameters ? ParametersFileName : ConstantsFileName;
            SCOPED_TRACE(std::string(name) + (access == GENERIC_READ ? " read" : " write"));
            const HANDLE holder =
                CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE);

            Context loaded = next;
            EXPECT_FALSE(parameters ? SaveParameters(next) : SaveConstants(next));
            EXPECT_FALSE(parameters ? LoadParameters(loaded) : LoadConstants(loaded));
            ExpectSameFiles(loaded, next);
            EXPECT_EQ(test::EntryNames("."), files) << "a temporary file was left";

            CloseHandle(holder);
            EXPECT_TRUE(parameters ? LoadParameters(loaded) : LoadConstants(loaded));
        }
    }
    Context loaded;
    ASSERT_TRUE(LoadParameters(loaded));
    ASSERT_TRUE(LoadConstants(loaded));
    ExpectSameFiles(loaded, old);
}

TEST_F(Win32Files, ReadOnlyAttributeStopsEverySaveAndStaysSet) {
    const Context old = Numbered(3);
    const Context next = Numbered(4);
    ASSERT_TRUE(SaveParameters(old));
    ASSERT_TRUE(SaveConstants(old));
    ASSERT_TRUE(ExportConstantsText(old, '.'));
    const auto files = test::EntryNames(".");
    for (const char* name : {ParametersFileName, ConstantsFileName, ConstantsTextFileName}) {
        ASSERT_TRUE(SetFileAttributesA(name, FILE_ATTRIBUTE_READONLY));
    }

    EXPECT_FALSE(SaveParameters(next));
    EXPECT_FALSE(SaveConstants(next));
    EXPECT_FALSE(ExportConstantsText(next, '.'));
    EXPECT_EQ(test::EntryNames("."), files);
    for (const char* name : {ParametersFileName, ConstantsFileName, ConstantsTextFileName}) {
        EXPECT_NE(GetFileAttributesA(name) & FILE_ATTRIBUTE_READONLY, 0u) << name;
    }
    Context loaded;
    EXPECT_TRUE(LoadParameters(loaded)); // reading needs no write access
    EXPECT_TRUE(LoadConstants(loaded));
    ExpectSameFiles(loaded, old);

    ASSERT_TRUE(SetFileAttributesA(ParametersFileName, FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(SaveParameters(next));
    ASSERT_TRUE(LoadParameters(loaded));
    EXPECT_EQ(loaded.DeviceSettings, next.DeviceSettings);
}

TEST_F(Win32Files, SaveReplacesALongerFileWhole) {
    // MoveFileEx puts the new file in the old one's place; nothing of the
    // old file's tail may survive, as it would with a rewrite in place.
    const HANDLE old = CreateFileA(ParametersFileName, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(old, INVALID_HANDLE_VALUE);
    const std::string tail(5000, 'x');
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(old, tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr));
    CloseHandle(old);

    const Context saved = Numbered(5);
    ASSERT_TRUE(SaveParameters(saved));
    EXPECT_EQ(fs::file_size(ParametersFileName), ParametersFileSize);
    EXPECT_EQ(test::EntryNames("."), std::vector<std::string>{ParametersFileName});
    Context loaded;
    ASSERT_TRUE(LoadParameters(loaded));
    EXPECT_EQ(loaded.DeviceSettings, saved.DeviceSettings);
    EXPECT_EQ(loaded.FactoryParams, saved.FactoryParams);
}

TEST_F(Win32Files, SaveRemovesOnlyLeftoversThatNoWriterHolds) {
    const std::string pid = std::to_string(GetCurrentProcessId() + 4);
    const std::string dead = std::string(ParametersFileName) + "." + pid + "-3.tmp";
    const std::string live = std::string(ParametersFileName) + "." + pid + "-4.tmp";
    const std::vector<std::string> others = {std::string(ParametersFileName) + ".bak",
                                             std::string(ParametersFileName) + ".x-1.tmp",
                                             std::string(ConstantsFileName) + "." + pid + "-3.tmp"};
    auto create = [](const std::string& name) {
        return CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    for (const auto& name : others) {
        CloseHandle(create(name));
    }
    CloseHandle(create(dead));
    // A writer holds its temporary file open without sharing until it is
    // renamed.
    const HANDLE writer = create(live);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);

    ASSERT_TRUE(SaveParameters(Numbered(6)));
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    for (const auto& name : others) {
        EXPECT_TRUE(fs::exists(name)) << name;
    }

    CloseHandle(writer);
    ASSERT_TRUE(SaveParameters(Numbered(6)));
    EXPECT_FALSE(fs::exists(live));
}

TEST(Windows1250, EveryCharacterOfTheCodePageBecomesItsByte) {
    // The system's converter is the reference for the table. It maps the
    // five bytes that the code page leaves undefined to the C1 controls.
    int defined = 0;
    for (int byte = 0x01; byte <= 0xFF; ++byte) {
        const char in = static_cast<char>(byte);
        wchar_t wide = 0;
        ASSERT_EQ(MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, &in, 1, &wide, 1), 1)
            << "byte " << byte;
        if (wide >= 0x80 && wide <= 0x9F) {
            continue;
        }
        ++defined;
        char utf8[8] = {};
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, &wide, 1, utf8, sizeof utf8, nullptr, nullptr);
        ASSERT_GT(length, 0);
        EXPECT_EQ(ToWindows1250(std::string(utf8, static_cast<std::size_t>(length))),
                  std::string(1, in))
            << "byte " << byte;
    }
    EXPECT_EQ(defined, 255 - 5);
}

} // namespace
} // namespace zorm
