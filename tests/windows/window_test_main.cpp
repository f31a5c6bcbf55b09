// The window tests run inside one QApplication on the offscreen platform, so
// they need no display.
#include "tests/windows/window_test_support.h"
#include "windows/operator_input.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    // As the program does, so that every window is tested with it.
    zorm::InstallOperatorInput(application);
    return RUN_ALL_TESTS();
}
