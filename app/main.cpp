// The program: one main window over one shared context and one serial link.
// It ends when the main window closes. The command line only adds to this:
// --help, --version, --list-ports, a data folder to work in, the service
// technician's access to the register window, and the shared database of
// the calibration records.
#include "app/command_line.h"
#include "app/data_folder.h"
#include "app/port_listing.h"
#include "data/context.h"
#include "data/param_files.h"
#include "link/drv232.h"
#include "link/port_access.h"
#include "link/port_names.h"
#include "records/record_keeper.h"
#include "windows/ZORM5801.h"
#include "windows/message_box.h"
#include "windows/operator_input.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

namespace {

// Qt's messages while the application object is made are held back: when no
// window system can be reached (no display), Qt would print its lines and
// abort; the program says so in one line of its own and ends with status 1
// instead. Once the application object stands, the held messages go out as
// they came.
class WindowSystemStart {
public:
    WindowSystemStart() { previous_ = qInstallMessageHandler(&Hold); }
    ~WindowSystemStart() {
        qInstallMessageHandler(previous_);
        for (const Held& message : held_) {
            const QMessageLogContext context(message.File.constData(), message.Line,
                                             message.Function.constData(),
                                             message.Category.constData());
            previous_(message.Type, context, message.Text);
        }
        held_.clear();
    }
    WindowSystemStart(const WindowSystemStart&) = delete;
    WindowSystemStart& operator=(const WindowSystemStart&) = delete;

private:
    struct Held {
        QtMsgType Type;
        QByteArray File;
        int Line;
        QByteArray Function;
        QByteArray Category;
        QString Text;
    };

    static void Hold(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtFatalMsg) {
            std::cerr << "zorm5816: this program needs a graphical session, and none could be "
                         "opened; the tests run without one: ctest --preset default\n";
            std::_Exit(1);
        }
        held_.push_back(
            {type, context.file, context.line, context.function, context.category, text});
    }

    static inline QtMessageHandler previous_ = nullptr;
    static inline std::vector<Held> held_;
};

std::unique_ptr<QApplication> StartWindowSystem(int& argc, char** argv) {
    const WindowSystemStart start;
    return std::make_unique<QApplication>(argc, argv);
}

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
    std::optional<zorm::DatabaseUrl> sharedDatabase;
    if (options.SharedDatabase) {
        auto parsed = zorm::ParseDatabaseUrl(*options.SharedDatabase);
        if (const std::string* why = std::get_if<std::string>(&parsed)) {
            std::cerr << "zorm5816: --history: " << *why << "\n\n" << zorm::UsageText();
            return 2;
        }
        sharedDatabase = std::get<zorm::DatabaseUrl>(std::move(parsed));
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
    const std::unique_ptr<QApplication> started = StartWindowSystem(qtArgc, argv);
    QApplication& application = *started;
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

    // The calibration records: the local file of the data folder and, where
    // one is set, the plant's shared database. What waits to be sent goes
    // now; a folder that never held a record gets no file until it does.
    const zorm::SharedDatabaseInUse shared =
        zorm::ChooseSharedDatabase(sharedDatabase, zorm::LoadStationSettings().SharedDatabase);
    if (!shared.Problem.empty()) {
        std::cerr << "zorm5816: " << shared.Problem << "\n";
    }
    const QString historyFile = QString::fromLatin1(zorm::HistoryFileName);
    zorm::History history(historyFile, shared.Url);
    if (QFileInfo::exists(historyFile) && !history.Open()) {
        std::cerr << "zorm5816: " << history.LastError().toStdString() << "\n";
    }
    zorm::RecordKeeper records(history, zorm::ProgramVersion(), shared);

    zorm::THlavni hlavni(context, link, boxes, modal);
    hlavni.SetPortAccessLog(&denied);
    hlavni.SetRecords(&records);
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
    const int status = application.exec();
    // Records that the local file refused at a commit get a last chance.
    if (!records.WriteWaiting()) {
        std::cerr << "zorm5816: " << records.Waiting()
                  << " calibration record(s) could not be written and are lost: "
                  << records.LastError().toStdString() << "\n";
    }
    return status;
}
