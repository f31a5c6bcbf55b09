// The commands that work on the files of the data folder: ports, export and
// fit.
#include "cli/points_file.h"
#include "cli/session.h"

#include "app/command_line.h"
#include "app/port_listing.h"
#include "data/calibration.h"
#include "data/number_text.h"
#include "data/param_files.h"
#include "link/connection_search.h"
#include "records/record_keeper.h"
#include "records/sending.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace zorm::cli {

namespace fs = std::filesystem;

namespace {

// What the calibration window shows above its columns and below them.
constexpr const char* FitHeading = "Výsledný polynom";
constexpr const char* ColumnHeadings =
    "Měřená hodnota [bit]\tSkutečná teplota [°C]\tVypočítaná teplota [°C]\tOdchylka [°C]";
constexpr const char* MaxDeviationCaption = "Max.odchylka: ";

// A points file is a few hundred bytes; anything beyond this is no such file.
constexpr std::streamsize MaxPointsFileSize = 1 << 20;

Json DeviceJson(const SerialDevice& device) {
    Json json = Json::Object();
    json["node"] = device.Node.string();
    json["identity"] = device.Identity;
    json["driver"] = device.Driver;
    json["usb"] = device.UsbId;
    json["manufacturer"] = device.Manufacturer;
    json["product"] = device.Product;
    json["serial"] = device.Serial;
    json["uart"] = device.Uart;
    return json;
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf()) || text.tellp() > MaxPointsFileSize) {
        const int error = errno;
        throw Failed{FileFailed,
                     "cannot read " + path.string() + ": " +
                         (text.tellp() > MaxPointsFileSize ? "larger than a points file can be"
                                                           : std::strerror(error))};
    }
    return text.str();
}

void PutCoefficients(Json& json, const Cubic& cubic) {
    json["A3"] = cubic.A3;
    json["A2"] = cubic.A2;
    json["A1"] = cubic.A1;
    json["A0"] = cubic.A0;
}

// Where the record of a commit goes, and what it names: from the command's
// options, checked before anything is written.
struct RecordPlace {
    std::optional<DatabaseUrl> Given;
    ConverterIdentity Converter;
};

RecordPlace RecordPlaceOf(const Session& session) {
    RecordPlace place;
    if (const auto address = session.Args.Value("--history")) {
        auto parsed = ParseDatabaseUrl(*address);
        if (const std::string* why = std::get_if<std::string>(&parsed)) {
            throw Failed{WrongUsage, "--history: " + *why};
        }
        place.Given = std::get<DatabaseUrl>(std::move(parsed));
    }
    const DeviceSettings& device = session.Context.DeviceSettings;
    place.Converter.Port =
        static_cast<int>(session.Args.Number("--port", 1, 255).value_or(device.PortNumber));
    place.Converter.Address =
        static_cast<int>(session.Args.Number("--address", 1, 10).value_or(device.DeviceAddress));
    return place;
}

// The calibration record of a commit goes into Historie.sqlite of the data
// folder and, with a shared database, waits there to be sent. A process
// that is about to end sends what waits at once: with the server out of
// reach that costs at most its connection time-out (5 s), and the records
// wait for the next commit or the window program.
void KeepRecord(Session& session, const SensorParamSet& work, const SensorParamSet& before,
                int sensor, const RecordPlace& place) {
    // Qt's SQL drivers are plugins, which only an application object loads.
    static int argc = 1;
    static char name[] = "zorm5816-cli";
    static char* argv[] = {name, nullptr};
    std::optional<QCoreApplication> application;
    if (QCoreApplication::instance() == nullptr) {
        application.emplace(argc, argv);
    }
    const StationSettings settings = LoadStationSettings();
    const SharedDatabaseInUse shared = ChooseSharedDatabase(place.Given, settings.SharedDatabase);
    if (!shared.Problem.empty()) {
        session.Err << "zorm5816-cli: warning: " << shared.Problem << '\n';
    }
    const fs::path file = fs::current_path() / HistoryFileName;
    RecordDatabase local(DatabasePlace::LocalFile(QString::fromStdString(file.string())));
    const auto instruments = local.Instruments();
    const std::optional<Instrument> inUse =
        instruments ? ActiveInstrument(*instruments, settings.ReferenceInUse) : std::nullopt;
    const CalibrationRecord record = MakeCalibrationRecord(
        work, before, sensor, place.Converter, settings, ProgramVersion(), std::nullopt, {}, inUse);
    if (record.ReferenceUsed && record.ReferenceUsed->Overdue) {
        // Nobody at a script answers the window's question: the record notes it.
        session.Err << "zorm5816-cli: warning: the reference instrument in use ("
                    << inUse->Identity.Description << ", " << inUse->Identity.SerialNumber
                    << ") was due on " << DateText(inUse->Due)
                    << "; the record notes it as overdue\n";
    }
    Json& json = session.Document["record"];
    json["uuid"] = record.Uuid;
    json["file"] = file.string();
    json["shared_database"] = shared.Url ? Json(shared.Url->Text()) : Json();
    json["reference_overdue"] = record.ReferenceUsed && record.ReferenceUsed->Overdue;
    const bool written = local.Store({{record}, {}}, shared.Url ? Queue::ForSending : Queue::No);
    json["written"] = written;
    if (!written) {
        throw Failed{FileFailed, "the fit is saved in " + std::string(ParametersFileName) +
                                     ", but its calibration record could not be written: " +
                                     local.LastError().toStdString()};
    }
    if (session.Text != nullptr) {
        *session.Text << "-> " << file.string() << ", calibration record " << record.Uuid << '\n';
    }
    if (!shared.Url) {
        return;
    }
    RecordDatabase server(DatabasePlace::SharedServer(*shared.Url));
    const SendResult sent = SendPending(local, server);
    const std::optional<int> waiting = local.UnsentCount();
    json["sent"] = sent.Sent;
    json["waiting"] = waiting ? Json(*waiting) : Json();
    json["send_error"] = sent.Error.isEmpty() ? Json() : Json(sent.Error.toStdString());
    if (session.Text != nullptr) {
        *session.Text << "-> " << shared.Url->Text() << ", records sent: " << sent.Sent << '\n';
    }
    if (!sent.Error.isEmpty()) {
        session.Err << "zorm5816-cli: warning: " << waiting.value_or(0) << " record(s) wait in "
                    << HistoryFileName
                    << " to be sent to the shared database: " << sent.Error.toStdString() << '\n';
    }
}

// The fitted sensor of the working copy goes into the user set, which is
// saved: the other sensors and the factory set stay as the file held them.
// Then the commit's calibration record.
void CommitFit(Session& session, const SensorParamSet& work, int sensor, const RecordPlace& place) {
    const SensorParamSet before = session.Context.UserParams;
    TakeSensor(work, session.Context.UserParams, sensor);
    if (!SaveParameters(session.Context)) {
        throw Failed{FileFailed, "cannot write " +
                                     (fs::current_path() / ParametersFileName).string() +
                                     "; it is left as it was"};
    }
    session.Document["committed"] = true;
    if (session.Text != nullptr) {
        *session.Text << "-> " << (fs::current_path() / ParametersFileName).string()
                      << ", user set, sensor " << sensor << '\n';
    }
    KeepRecord(session, work, before, sensor, place);
}

} // namespace

void Ports(Session& session) {
    const PortTable table = ResolvePorts(session.Env.Roots);
    std::optional<std::uint8_t> portNumber;
    if (LoadParameters(session.Context)) {
        portNumber = session.Context.DeviceSettings.PortNumber;
    }
    const fs::path folder = fs::current_path();
    if (session.Text != nullptr) {
        *session.Text << PortListing(table, portNumber, folder);
        return;
    }
    Json& document = session.Document;
    document["data_folder"] = folder.string();
    Json& ports = document["ports"] = Json::Array{};
    for (const NumberedPort& port : table.Ports) {
        Json entry = Json::Object();
        entry["number"] = port.Number;
        entry["kind"] = port.What == NumberedPort::Kind::Entry    ? "entry"
                        : port.What == NumberedPort::Kind::Device ? "device"
                                                                  : "missing";
        entry["path"] = port.Path.string();
        entry["identity"] = port.Identity;
        entry["device"] = port.Device ? DeviceJson(*port.Device) : Json();
        entry["searched"] = port.Number <= PortsSearched;
        ports.Add(std::move(entry));
    }
    Json& unnumbered = document["unnumbered"] = Json::Array{};
    for (const SerialDevice& device : table.Unnumbered) {
        unnumbered.Add(DeviceJson(device));
    }
    Json& problems = document["problems"] = Json::Array{};
    for (const std::string& problem : table.Problems) {
        problems.Add(problem);
    }
    document["port_number"] = portNumber ? Json(*portNumber) : Json();
    document["search_start"] = portNumber ? SearchStart(*portNumber) : 1;
}

void Export(Session& session) {
    session.LoadParameters(true);
    Context& context = session.Context;
    context.PolyCoeffs = context.UserParams.Coefficients;
    // The text is written also when the binary file could not be.
    const bool constantsSaved = SaveConstants(context);
    const bool textSaved = ExportConstantsText(context, session.Env.DecimalSeparator);
    const fs::path folder = fs::current_path();
    Json& files = session.Document["files"] = Json::Array{};
    Json& coefficients = session.Document["coefficients"] = Json::Array{};
    for (const auto& [saved, name] :
         {std::pair{constantsSaved, ConstantsFileName}, {textSaved, ConstantsTextFileName}}) {
        if (saved) {
            files.Add((folder / name).string());
        }
    }
    for (int s = 1; s <= 3; ++s) {
        const Cubic cubic = CubicOf(context.PolyCoeffs, s);
        const std::string line = PolynomialLine(cubic, session.Env.DecimalSeparator);
        Json entry = Json::Object();
        entry["sensor"] = s;
        PutCoefficients(entry, cubic);
        entry["polynomial"] = line;
        coefficients.Add(std::move(entry));
        if (session.Text != nullptr) {
            *session.Text << "Snímač " << s << ": " << line << '\n';
        }
    }
    if (!constantsSaved || !textSaved) {
        throw Failed{
            FileFailed,
            "cannot write " +
                (folder / (constantsSaved ? ConstantsTextFileName : ConstantsFileName)).string()};
    }
    if (session.Text != nullptr) {
        *session.Text << "-> " << (folder / ConstantsFileName).string() << ", "
                      << (folder / ConstantsTextFileName).string() << '\n';
    }
}

void Fit(Session& session) {
    const Arguments& args = session.Args;
    const std::optional<unsigned> sensorNumber = args.Number("--sensor", 1, 3);
    const std::optional<std::string> pointsFile = args.Value("--points");
    if (!sensorNumber || !pointsFile) {
        throw Failed{WrongUsage, "fit needs --sensor S and --points FILE"};
    }
    const int sensor = static_cast<int>(*sensorNumber);
    const bool commit = args.Has("--commit");
    std::optional<RecordPlace> recordPlace;
    if (commit) {
        // Without a Parametry.par the fit goes into the sets of a first
        // start, as in the window program, and the file is made.
        session.LoadParameters(false);
        recordPlace = RecordPlaceOf(session);
    }
    auto parsed = ParsePoints(FileText(*pointsFile));
    if (const std::string* error = std::get_if<std::string>(&parsed)) {
        throw Failed{FileFailed, *pointsFile + ": " + *error};
    }
    const auto& points = std::get<std::vector<CalibrationPoint>>(parsed);
    const int n = static_cast<int>(points.size());

    // The working copy as the calibration window has it after a collection
    // of these points: the sensor's slots hold them and nothing else.
    SensorParamSet work = session.Context.UserParams;
    SetPoints(work, sensor, points);

    const std::optional<Cubic> cubic = FitCubic(work, sensor, n);
    Json& document = session.Document;
    document["sensor"] = sensor;
    document["points"] = n;
    if (!cubic) {
        throw Failed{FileFailed, *pointsFile + ": the points give no fit (the system of the "
                                               "least squares is singular)"};
    }
    SetCubic(work.Coefficients, sensor, *cubic);
    const char sep = session.Env.DecimalSeparator;
    const std::string polynomial = PolynomialLine(*cubic, sep);
    const FitReport report = MakeFitReport(work, sensor, n, sep);

    PutCoefficients(document["coefficients"], *cubic);
    document["heading"] = FitHeading;
    document["polynomial"] = polynomial;
    Json& rows = document["rows"] = Json::Array{};
    std::ostringstream text;
    text << FitHeading << '\n' << polynomial << '\n' << ColumnHeadings << '\n';
    for (std::size_t k = 0; k < report.Rows.size(); ++k) {
        const std::string trueText = fixed(points[k].TrueTemp, 6, 2, sep);
        Json row = Json::Object();
        row["raw"] = points[k].Raw;
        row["true"] = double{points[k].TrueTemp};
        row["true_text"] = trueText;
        row["fitted"] = report.Rows[k].Fitted;
        row["deviation"] = report.Rows[k].Deviation;
        rows.Add(std::move(row));
        text << points[k].Raw << '\t' << trueText << '\t' << report.Rows[k].Fitted << '\t'
             << report.Rows[k].Deviation << '\n';
    }
    if (!report.Faulted) {
        document["max_deviation"] = report.MaxDeviation;
        text << MaxDeviationCaption << report.MaxDeviation << '\n';
    }
    if (session.Text != nullptr) {
        *session.Text << text.str();
    }
    if (report.Faulted) {
        // Only the huge coefficients of a nearly singular system overflow a
        // deviation; the window does not offer such a fit for saving either.
        throw Failed{FileFailed, *pointsFile + ": the deviation of point " +
                                     std::to_string(report.Rows.size() + 1) +
                                     " cannot be computed; the fit is of no use"};
    }
    document["committed"] = false;
    if (commit) {
        CommitFit(session, work, sensor, *recordPlace);
    }
}

} // namespace zorm::cli
