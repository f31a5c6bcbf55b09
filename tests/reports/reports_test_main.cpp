// The report tests: the certificate lays text out with Qt Gui's fonts, which
// want a QGuiApplication (on the offscreen platform: no display needed).
#include <gtest/gtest.h>

#include <QGuiApplication>

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
