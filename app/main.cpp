// The program: one main window over one shared context and one serial link.
// It ends when the main window closes. The command line only adds to this:
// --help, --version, --list-ports, a data folder to work in, and the service
// technician's access to the register window.
#include "app/command_line.h"
#include "app/data_folder.h"
#include "app/port_listing.h"
#include "data/context.h"
#include "data/param_files.h"
#include "link/drv232.h"
#include "link/port_access.h"
#include "link/port_names.h"
#include "windows/ZORM5801.h"
#include "windows/message_box.h"
#include "windows/operator_input.h"

#include <QApplication>
#include <QDir>

#include <cstdlib>
#include <iostream>
#include <string_view>
#include <vector>

namespace {

// --list-ports: the numbers of the data folder (the working directory by now)
// and where the stored PortNumber sends the search.
int ListPorts() {
    const zorm::PortTable table = zorm::ResolvePorts(zorm::SystemRoots{});
    zorm::Context context;
    std::optional<std::uint8_t> portNumber;
    if (zorm::LoadParameters(context)) {
        portNumber = context.DeviceSettings.PortNumber;
    }
    std::cout << zorm::PortListing(table, portNumber, std::filesystem::current_path());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    zorm::CommandLine options;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (const auto mistake = zorm::ParseCommandLine(
            args, [](const char* name) -> const char* { return std::getenv(name); }, options)) {
        std::cerr << "zorm5816: " << *mistake << "\n\n" << zorm::UsageText();
        return 2;
    }
    if (options.Help) {
        std::cout << zorm::UsageText();
        return 0;
    }
    if (options.Version) {
        std::cout << zorm::VersionText();
        return 0;
    }
    std::optional<zorm::DataFolderError> folderError;
    if (options.DataFolder) {
        folderError = zorm::EnterDataFolder(*options.DataFolder);
        if (folderError) {
            std::cerr << "zorm5816: " << folderError->Message() << "\n";
        }
    }
    if (options.ListPorts) {
        return folderError ? 1 : ListPorts();
    }

    // Every argument was ours; Qt gets none.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    // Enter presses the focused button and a hidden control leaves the focus
    // with its window, in every window, the ones opened later too, through
    // one filter on the whole application.
    zorm::InstallOperatorInput(application);
    zorm::QtMessageBoxService boxes;
    if (folderError) {
        boxes.Show(zorm::BoxKind::Error, QString::fromStdString(folderError->CzechMessage()),
                   zorm::BoxButtons::Ok);
        return 1;
    }

    zorm::Context context;
    zorm::PortAccessLog denied;
    zorm::Drv232 link(
        context, zorm::NumberedPortOpener(zorm::SystemRoots{}, zorm::PosixDeviceOpener(), &denied));
    zorm::QtModalRunner modal;
    zorm::THlavni hlavni(context, link, boxes, modal);
    hlavni.SetPortAccessLog(&denied);
    if (options.Service) {
        hlavni.ZobrazServisniTlacitko();
    }
    if (options.DataFolder) {
        // Unobtrusive: only who looks for the exported files hovers there.
        hlavni.setToolTip(QStringLiteral("Datová složka: ") +
                          QDir::toNativeSeparators(QDir::currentPath()));
    }
    hlavni.show();
    // The start-up runs on the first activation; ask for it, since without a
    // window manager (or under one that holds new windows back) none comes.
    hlavni.activateWindow();
    return application.exec();
}
