// A search that found nothing because a device refused this user: after
// "Zařízení není připojeno." one more box names the device and the fix. The
// program's opener runs over a fake machine; the open itself is the test's.
#include "data/context.h"
#include "link/drv232.h"
#include "link/port_names.h"
#include "tests/support/fake_machine.h"
#include "tests/support/scratch_directory.h"
#include "tests/windows/window_test_support.h"
#include "windows/ZORM5801.h"
#include "windows/access_hint.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>

namespace zorm {
namespace {

namespace fs = std::filesystem;

const QString NotConnected = QStringLiteral("Zařízení není připojeno.");

TEST(DeniedAccessHint, NamesPortsDevicesGroupsTheCommandAndTheNewLogin) {
    EXPECT_EQ(DeniedAccessHint({{3, "/dev/ttyUSB0", "dialout"}}, QStringLiteral("jana")),
              QStringLiteral("K portu COM3 (/dev/ttyUSB0) nemáte přístup.\n\n"
                             "Port mohou používat členové skupiny dialout. Přidejte se do ní "
                             "příkazem\n\n"
                             "    sudo usermod -a -G dialout jana\n\n"
                             "a pak se odhlaste a znovu přihlaste: členství ve skupině platí až "
                             "od nového přihlášení."));
    EXPECT_EQ(DeniedAccessHint({{1, "/dev/ttyS0", "dialout"},
                                {2, "/dev/ttyACM0", "uucp"},
                                {5, "/dev/ttyUSB1", "dialout"}},
                               QStringLiteral("jana")),
              QStringLiteral("K portům COM1 (/dev/ttyS0), COM2 (/dev/ttyACM0), COM5 (/dev/ttyUSB1) "
                             "nemáte přístup.\n\n"
                             "Porty mohou používat členové skupin dialout, uucp. Přidejte se do "
                             "nich příkazem\n\n"
                             "    sudo usermod -a -G dialout,uucp jana\n\n"
                             "a pak se odhlaste a znovu přihlaste: členství ve skupině platí až "
                             "od nového přihlášení."));
    // No group would help: the administrator.
    EXPECT_EQ(DeniedAccessHint({{7, "/dev/ttyS6", ""}}, QStringLiteral("jana")),
              QStringLiteral("K portu COM7 (/dev/ttyS6) nemáte přístup.\n\n"
                             "Požádejte správce počítače o přístup k zařízení."));
}

class DeniedAccess : public testing::Test {
protected:
    test::ScratchDirectory data{test::ScratchDirectory::Enter};
    test::FakeMachine machine;
    Context context;
    PortAccessLog denied;
    // The open's failure per path; ENOENT for the rest.
    std::map<fs::path, int> failures;
    Drv232 link{context,
                NumberedPortOpener(
                    machine.Roots(),
                    [this](const fs::path& path, int& error) -> std::unique_ptr<SerialPort> {
                        const auto failure = failures.find(path);
                        error = failure == failures.end() ? ENOENT : failure->second;
                        return nullptr;
                    },
                    &denied)};
    test::ScriptedBoxes boxes;
    test::ScriptedModal modal;
    THlavni window{context, link, boxes, modal};

    void SetUp() override { window.SetPortAccessLog(&denied); }
};

TEST_F(DeniedAccess, RefusedDeviceGetsTheHintAfterTheBoxOtherFailuresDoNot) {
    machine.AddUsbSerial("ttyUSB0", "2", "A10K1234"); // port 1
    const fs::path node = machine.Node("ttyUSB0");
    const std::string group = machine.GiveToGroup("ttyUSB0");
    // A busy port on the way changes nothing.
    machine.AddUsbSerial("ttyUSB1", "3", "B5"); // port 2
    failures[machine.Node("ttyUSB1")] = EBUSY;
    failures[node] = EACCES;

    window.FormActivate();

    ASSERT_EQ(boxes.Shown.size(), 3u); // no Parametry.par, not connected, the hint
    EXPECT_EQ(boxes.Shown[1].Text, NotConnected);
    EXPECT_EQ(boxes.Shown[2].Kind, BoxKind::Warning);
    EXPECT_EQ(boxes.Shown[2].Buttons, BoxButtons::Ok);
    EXPECT_EQ(boxes.Shown[2].Text,
              DeniedAccessHint({{1, fs::canonical(node).string(), group}}, CurrentUserName()));
    EXPECT_TRUE(boxes.Shown[2].Text.contains(QStringLiteral("usermod -a -G ") +
                                             QString::fromStdString(group)));

    // The next search starts afresh: busy or missing devices give no hint.
    for (const int failure : {EBUSY, ENOENT}) {
        failures[node] = failure;
        boxes.Shown.clear();
        window.BitBtn4Click();
        EXPECT_EQ(boxes.Texts(), std::vector<QString>{NotConnected}) << failure;
    }
}

} // namespace
} // namespace zorm
