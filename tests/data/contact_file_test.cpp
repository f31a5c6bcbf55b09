#include "data/contact_file.h"

#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace zorm {
namespace {

TEST(ContactFile, ReadsEveryFieldByItsKey) {
    const ServiceContact contact = ParseContact("Name=N\n"
                                                "Street=S 1\n"
                                                "Town=123 45 T\n"
                                                "Phone=+1 2\n"
                                                "Email=e@x\n"
                                                "Internet=www.x\n");
    EXPECT_EQ(contact, (ServiceContact{"N", "S 1", "123 45 T", "+1 2", "e@x", "www.x"}));
}

TEST(ContactFile, ToleratesWhatAnEditorOrAnotherSystemLeavesInTheFile) {
    const ServiceContact contact = ParseContact("\xEF\xBB\xBF"
                                                "; the service contact\r\n"
                                                "# another comment: Phone=0\r\n"
                                                "[Kontakt]\r\n"
                                                "\r\n"
                                                "  nAME \t=  Firma \xC4\x8C\xC3\xA1st  \r\n"
                                                "just a line\r\n"
                                                "Fax=7\r\n"
                                                "Email=a=b@x\r\n"
                                                "Phone=1\r\n"
                                                "PHONE=2");
    EXPECT_EQ(contact.Name, "Firma \xC4\x8C\xC3\xA1st");
    EXPECT_EQ(contact.Email, "a=b@x");
    EXPECT_EQ(contact.Phone, "2");
    EXPECT_EQ(contact.Street, "");
    EXPECT_EQ(contact.Town, "");
    EXPECT_EQ(contact.Internet, "");
}

TEST(ContactFile, LoadsFromTheWorkingDirectoryOrGivesEmptyFields) {
    test::ScratchDirectory scratch(test::ScratchDirectory::Enter);
    EXPECT_EQ(LoadContact(), ServiceContact{});

    // A directory of that name is unreadable as a file.
    std::filesystem::create_directory(ContactFileName);
    EXPECT_EQ(LoadContact(), ServiceContact{});
    std::filesystem::remove(ContactFileName);

    std::ofstream(ContactFileName) << "Town=T\nInternet=w\n";
    EXPECT_EQ(LoadContact(), (ServiceContact{"", "", "T", "", "", "w"}));

    // Only the first ContactFileLimit bytes count.
    std::ofstream(ContactFileName) << "Phone=1\n"
                                   << std::string(ContactFileLimit, '\n') << "Email=late\n";
    EXPECT_EQ(LoadContact(), (ServiceContact{"", "", "", "1", "", ""}));
}

} // namespace
} // namespace zorm
