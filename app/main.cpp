// The program: one main window over one shared context and one serial link.
// It ends when the main window closes.
#include "data/context.h"
#include "link/drv232.h"
#include "link/serial_port.h"
#include "windows/ZORM5801.h"
#include "windows/message_box.h"
#include "windows/operator_input.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Enter presses the focused button in every window, the ones opened
    // later too, through one filter on the whole application: a new window
    // needs no code of its own for it.
    zorm::InstallEnterPressesFocusedButton(application);

    zorm::Context context;
    zorm::Drv232 link(context, zorm::SystemPortOpener());
    zorm::QtMessageBoxService boxes;
    zorm::QtModalRunner modal;
    zorm::THlavni hlavni(context, link, boxes, modal);
    // Service access: the picture button of the register window is shown.
    if (application.arguments().contains(QStringLiteral("--service"))) {
        hlavni.ZobrazServisniTlacitko();
    }
    hlavni.show();
    // The start-up runs on the first activation; ask for it, since without a
    // window manager (or under one that holds new windows back) none comes.
    hlavni.activateWindow();
    return application.exec();
}
