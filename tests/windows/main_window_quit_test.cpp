// Leaving the program: "&K o n e c" saves the settings, the title bar does not.
#include "tests/windows/main_window_fixture.h"

#include <filesystem>

namespace zorm {
namespace {

using test::MainWindowTest;

class Quit : public MainWindowTest {
protected:
    void SetUp() override {
        window.show();
        window.FormActivate();
        boxes.Shown.clear();
    }
};

TEST_F(Quit, QuitButtonSavesEvenWithoutAConverterAndCloses) {
    ASSERT_FALSE(link.IsOpen());
    ASSERT_FALSE(std::filesystem::exists(ParametersFileName));
    context.DeviceSettings.ShowCelsius = 1;
    context.UserParams.Coefficients.A0(2) = 2.5;

    window.BitBtn2Click();

    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(std::filesystem::file_size(ParametersFileName), ParametersFileSize);
    Context saved;
    ASSERT_TRUE(LoadParameters(saved));
    // The defaults of a start without the file, and what changed since.
    EXPECT_EQ(saved.DeviceSettings.PortNumber, 1);
    EXPECT_EQ(saved.DeviceSettings.RtsOnTransmit, 1);
    EXPECT_EQ(saved.DeviceSettings.FilterOn, 1);
    EXPECT_EQ(saved.DeviceSettings.ShowCelsius, 1);
    EXPECT_EQ(saved.UserParams, context.UserParams);
}

TEST_F(Quit, FailedSaveIsReportedAndTheWindowClosesAnyway) {
    std::filesystem::create_directory(ParametersFileName);

    window.BitBtn2Click();

    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Error);
    EXPECT_EQ(boxes.Shown[0].Text, QStringLiteral("Chyba při ukládání parametrů"));
    EXPECT_EQ(boxes.Shown[0].Buttons, BoxButtons::Ok);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(std::filesystem::is_directory(ParametersFileName));
}

TEST_F(Quit, TitleBarCloseDoesNotSave) {
    context.DeviceSettings.ShowCelsius = 1;
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(std::filesystem::exists(ParametersFileName));
    EXPECT_TRUE(boxes.Shown.empty());
}

} // namespace
} // namespace zorm
