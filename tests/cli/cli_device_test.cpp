// The commands that talk to the converter, against zorm5816-sim on a pty: in
// text and JSON, a silent converter, wrong replies, the search, the scan of
// a line with several converters, and what reaches the line.
#include "tests/cli/cli_fixture.h"

#include "data/evaluation.h"

#include <QJsonArray>

#include <chrono>

namespace zorm {
namespace {

using test::CliResult;
using test::CliTest;
using Frames = std::vector<std::string>;

// Parametry.par with the converter's address, a start port for the search
// and the filter switched as given.
Context Settings(std::uint8_t address, std::uint8_t portNumber, bool filter = true) {
    Context context;
    context.DeviceSettings = {portNumber, address, 1, static_cast<std::uint8_t>(filter ? 1 : 0), 0};
    return context;
}

using Identify = CliTest;

TEST_F(Identify, ThePortGivenOrTheSearchFromPortNumberFindsTheConverterAndWritesNothing) {
    StartSimulator(3, {"--address", "2", "--type", "58XY"});
    SaveParameters(Settings(2, 5));
    const auto before = Files();

    const CliResult text = Run({"identify", "--port", "3"});
    EXPECT_EQ(text.Status, 0) << text.Err;
    EXPECT_EQ(text.Out, "Připojeno zařízení ZORM58XYA na portu COM3\n");
    EXPECT_EQ(text.Err, "");

    // The search goes 5, 4, 3; the first two are no ports at all.
    const CliResult json = Run({"--json", "identify"});
    EXPECT_EQ(json.Status, 0) << json.Err;
    EXPECT_EQ(json.Json["command"].toString(), "identify");
    EXPECT_EQ(json.Json["type"].toString(), "ZORM58XYA");
    EXPECT_EQ(json.Json["port"].toInt(), 3);
    EXPECT_EQ(json.Json["address"].toInt(), 2);
    EXPECT_EQ(json.Json["text"].toString(), "Připojeno zařízení ZORM58XYA na portu COM3");

    // --address replaces the stored one for this run only.
    const CliResult other = Run({"identify", "--port", "3", "--address", "7", "--json"});
    EXPECT_EQ(other.Status, cli::DeviceFailed);
    EXPECT_EQ(other.Json["error"].toString(), "no converter answered at address 7 on COM3");

    EXPECT_EQ(StopSimulators(),
              (Frames{"25 32 0d -> reply", "25 32 0d -> reply", "25 37 0d -> no reply"}));
    EXPECT_EQ(Files(), before);
}

TEST_F(Identify, SilenceWrongRepliesAndMissingPortsFailWithStatusOne) {
    StartSimulator(1, {"--fault", "silence"});
    StartSimulator(2, {"--fault", "garbage"});
    SaveParameters(Settings(1, 2));
    for (const char* port : {"1", "2"}) {
        const CliResult result = Run({"identify", "--port", port, "--json"});
        EXPECT_EQ(result.Status, cli::DeviceFailed);
        EXPECT_EQ(result.Json["error"].toString(),
                  QString("no converter answered at address 1 on COM") + port);
        EXPECT_FALSE(result.Json.contains("type"));
    }
    const CliResult absent = Run({"identify", "--port", "9"});
    EXPECT_EQ(absent.Status, cli::DeviceFailed);
    EXPECT_EQ(absent.Out, "");
    EXPECT_EQ(absent.Err, "zorm5816-cli: cannot open COM9: no such port, or it is in use\n");

    // The whole search: 2 and 1 answer wrongly, the other 27 are no ports.
    const CliResult searched = Run({"identify"});
    EXPECT_EQ(searched.Status, cli::DeviceFailed);
    EXPECT_EQ(searched.Err, "zorm5816-cli: no converter answered at address 1 on COM1 to COM29 "
                            "(searched from COM2)\n");
}

// The first start: no Parametry.par means address 0, which several converters
// on one line do not answer; nothing is written.
TEST_F(Identify, WithoutParametersTheFirstStartSettingsApplyAndAreNotSaved) {
    StartSimulator(1, {"--address", "1,2"});
    const CliResult result = Run({"identify", "--port", "1"});
    EXPECT_EQ(result.Status, cli::DeviceFailed);
    EXPECT_NE(result.Err.find("warning: no "), std::string::npos);
    EXPECT_EQ(StopSimulators(), Frames{"25 30 0d -> no reply"});
    EXPECT_TRUE(Files().empty());
}

using Scan = CliTest;

// Three converters on a paced line: each found with its type, no other
// address reported, in about a second.
TEST_F(Scan, FindsEveryConverterOnAPacedLineAndNoOther) {
    StartSimulator(4, {"--address", "1,4,10", "--type", "AAAA,BBBB,CCCC", "--pace"});
    const auto start = std::chrono::steady_clock::now();
    const CliResult json = Run({"scan", "--port", "4", "--json"});
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(json.Status, 0) << json.Err;
    EXPECT_EQ(json.Json["found"].toArray(), QJsonArray({1, 4, 10}));
    const QJsonArray addresses = json.Json["addresses"].toArray();
    ASSERT_EQ(addresses.size(), 10);
    for (int a = 1; a <= 10; ++a) {
        const QJsonValue type = addresses[a - 1].toObject()["type"];
        EXPECT_EQ(addresses[a - 1].toObject()["address"].toInt(), a);
        EXPECT_EQ(type, a == 1    ? QJsonValue("ZORMAAAAA")
                        : a == 4  ? QJsonValue("ZORMBBBBA")
                        : a == 10 ? QJsonValue("ZORMCCCCA")
                                  : QJsonValue(QJsonValue::Null));
    }
    EXPECT_EQ(json.Json["timeout_ms"].toInt(), 100);
    // Seven silent addresses of 140 ms and three answers; the window
    // program's time-out would take eleven seconds.
    EXPECT_LT(took, std::chrono::milliseconds(3000));

    const CliResult text = Run({"scan", "--port", "4", "--timeout-ms", "60"});
    EXPECT_EQ(text.Status, 0) << text.Err;
    EXPECT_EQ(text.Out, "address 1: ZORMAAAAA\naddress 2: no answer\naddress 3: no answer\n"
                        "address 4: ZORMBBBBA\naddress 5: no answer\naddress 6: no answer\n"
                        "address 7: no answer\naddress 8: no answer\naddress 9: no answer\n"
                        "address 10: ZORMCCCCA\n");
}

// A converter that answers after the scan moved on must not pass for the
// next address: its reply comes into a later address's read and is not
// confirmed by a second question.
TEST_F(Scan, AReplyTooLateForItsAddressIsNotTakenForAnother) {
    StartSimulator(1, {"--address", "3", "--fault", "late"}); // 1.5 s late
    const CliResult result = Run({"scan", "--port", "1", "--timeout-ms", "300", "--json"});
    EXPECT_EQ(result.Status, cli::DeviceFailed);
    EXPECT_EQ(result.Json["found"].toArray(), QJsonArray());
    EXPECT_EQ(result.Json["error"].toString(),
              "no converter answered on COM1 at the addresses 1 to 10 within 300 ms");
}

using Measure = CliTest;

TEST_F(Measure, RawReadingsOfTheChosenSensorsInPassesWithTheFilterAsSet) {
    StartSimulator(1, {"--raw", "12345,23456,34567"});
    SaveParameters(Settings(1, 1, false));
    const CliResult text =
        Run({"measure", "--port", "1", "--sensors", "3,1", "--count", "2", "--interval", "0.05"});
    EXPECT_EQ(text.Status, 0) << text.Err;
    EXPECT_EQ(text.Out, "Snímač 1\tSnímač 3\n12345\t34567\n12345\t34567\n");

    const CliResult json = Run({"measure", "--port", "1", "--sensors", "2", "--json"});
    EXPECT_EQ(json.Status, 0) << json.Err;
    EXPECT_EQ(json.Json["unit"].toString(), "raw");
    EXPECT_FALSE(json.Json["filter"].toBool());
    const QJsonObject reading = json.Json["passes"].toArray()[0].toArray()[0].toObject();
    EXPECT_EQ(reading["sensor"].toInt(), 2);
    EXPECT_EQ(reading["raw"].toInt(), 23456);
    EXPECT_EQ(reading["text"].toString(), "23456");

    // FilterOn is 0 in the file: '*' frames.
    EXPECT_EQ(StopSimulators(),
              (Frames{"2a 31 31 0d -> reply", "2a 31 33 0d -> reply", "2a 31 31 0d -> reply",
                      "2a 31 33 0d -> reply", "2a 31 32 0d -> reply"}));
}

TEST_F(Measure, CelsiusThroughTheUserSetWithTheRegionalSeparator) {
    StartSimulator(1, {"--raw", "21500,22500,99999"});
    Context context = Settings(1, 1);
    CoefficientTable& c = context.UserParams.Coefficients;
    c.A1(1) = 0.001;
    c.A0(1) = -0.25;
    c.A3(2) = 1e-13;
    c.A2(2) = -2.5e-9;
    c.A1(2) = 0.0011;
    c.A0(2) = -3;
    c.A3(3) = 1e30; // far beyond the single range for 99999
    SaveParameters(context);
    environment.DecimalSeparator = ',';

    const CliResult json = Run({"measure", "--port", "1", "--celsius", "--unfiltered", "--json"});
    // Sensor 3 cannot be evaluated: the user set is of no use there.
    EXPECT_EQ(json.Status, cli::FileFailed);
    EXPECT_NE(json.Json["error"].toString().indexOf("sensor 3"), -1);
    EXPECT_EQ(json.Json["unit"].toString(), "°C");
    const QJsonArray readings = json.Json["passes"].toArray()[0].toArray();
    ASSERT_EQ(readings.size(), 3);
    for (int s = 1; s <= 2; ++s) {
        const std::int32_t raw = s == 1 ? 21500 : 22500;
        std::string want;
        FormatTemperature(context.UserParams, raw, s, want, ',');
        float t = 0;
        ASSERT_TRUE(EvaluateCubic(context.UserParams.Coefficients, raw, s, t));
        const QJsonObject reading = readings[s - 1].toObject();
        EXPECT_EQ(reading["text"].toString().toStdString(), want);
        EXPECT_EQ(reading["celsius"].toDouble(), double{t});
        EXPECT_EQ(reading["raw"].toInt(), raw);
    }
    EXPECT_EQ(readings[0].toObject()["text"].toString(), "21,25");
    EXPECT_EQ(readings[2].toObject()["text"].toString(), EvaluationError);
    EXPECT_TRUE(readings[2].toObject()["celsius"].isNull());

    const CliResult text = Run({"measure", "--port", "1", "--sensors", "1", "--celsius"});
    EXPECT_EQ(text.Status, 0) << text.Err;
    EXPECT_EQ(text.Out, "Snímač 1\n21,25\n");
    EXPECT_EQ(StopSimulators().front(), "2a 31 31 0d -> reply");
}

// A reading that fails shows as the window shows it; the passes go on and
// the command ends with status 1.
TEST_F(Measure, AFailedReadingIsShownAndEndsWithStatusOne) {
    StartSimulator(1, {"--fault", "echo"});
    SaveParameters(Settings(1, 1));
    const CliResult json = Run({"measure", "--port", "1", "--count", "2", "--interval", "0",
                                "--sensors", "1,2", "--json"});
    EXPECT_EQ(json.Status, cli::DeviceFailed);
    EXPECT_EQ(json.Json["error"].toString(), "no valid reading of sensor 1 from address 1 on COM1");
    const QJsonArray passes = json.Json["passes"].toArray();
    ASSERT_EQ(passes.size(), 2);
    for (const QJsonValue& pass : passes) {
        for (const QJsonValue& reading : pass.toArray()) {
            EXPECT_EQ(reading.toObject()["text"].toString(), "- - - ");
            EXPECT_TRUE(reading.toObject()["raw"].isNull());
        }
    }
    EXPECT_EQ(StopSimulators().size(), 4u);
}

// --celsius needs the user set: without Parametry.par nothing is sent.
TEST_F(Measure, CelsiusWithoutOrWithADamagedParametersFileFailsBeforeTheLine) {
    StartSimulator(1);
    const CliResult missing = Run({"measure", "--port", "1", "--celsius"});
    EXPECT_EQ(missing.Status, cli::FileFailed);
    EXPECT_EQ(missing.Out, "");
    EXPECT_EQ(missing.Err, "zorm5816-cli: cannot read " + (Data() / "Parametry.par").string() +
                               ": No such file or directory\n");
    std::ofstream(Data() / "Parametry.par", std::ios::binary) << std::string(829, '\0');
    const CliResult damaged = Run({"measure", "--port", "1", "--json"});
    EXPECT_EQ(damaged.Status, cli::FileFailed);
    EXPECT_EQ(damaged.Json["error"].toString().toStdString(),
              (Data() / "Parametry.par").string() + " is damaged: 829 bytes instead of 1653");
    EXPECT_TRUE(StopSimulators().empty());
}

using Service = CliTest;

TEST_F(Service, DiagnosticsAndRegistersWithTheWindowsNamesAndFrames) {
    StartSimulator(1, {"--address", "3"});
    SaveParameters(Settings(3, 1));

    const CliResult diagnostics = Run({"diagnostics", "--port", "1", "--json"});
    EXPECT_EQ(diagnostics.Status, 0) << diagnostics.Err;
    EXPECT_EQ(diagnostics.Json["words"].toArray().size(), 18);
    EXPECT_EQ(diagnostics.Json["count"].toInt(-1), 0);
    EXPECT_TRUE(diagnostics.Json["text"].toString().startsWith("Vysledek: 0   0   "));
    EXPECT_EQ(Run({"diagnostics", "--port", "1"}).Out,
              diagnostics.Json["text"].toString().toStdString() + "\n");

    const CliResult write = Run({"register", "write", "Filter", "7f", "0A", "--port", "1"});
    EXPECT_EQ(write.Status, 0) << write.Err;
    EXPECT_EQ(write.Out, "Filter registr (2)\nDekadicky 127 10\n");

    const CliResult read = Run({"register", "read", "filter", "--port", "1", "--json"});
    EXPECT_EQ(read.Status, 0) << read.Err;
    EXPECT_EQ(read.Json["register"].toString(), "Filter registr (2)");
    EXPECT_EQ(read.Json["bytes"].toArray(), QJsonArray({10, 127, 0}));
    EXPECT_EQ(read.Json["RegD3"].toString(), "0");
    EXPECT_EQ(read.Json["RegH2"].toString(), "7F");
    EXPECT_EQ(read.Json["RegH1"].toString(), "0A");
    const CliResult shown = Run({"register", "read", "filter", "--port", "1"});
    EXPECT_EQ(shown.Out, "Filter registr (2)\nDekadicky: 0 127 10\nHexadecimálně: 00 7F 0A\n");

    // Not a register byte, a register that takes no writes, no such
    // register: wrong usage, and nothing is sent.
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"register", "write", "mode", "7", "00"},
          {"register", "write", "mode", "7F", "0x1"},
          {"register", "write", "status", "00", "00"},
          {"register", "read", "gains"},
          {"register", "read"}}) {
        std::vector<std::string> args = wrong;
        args.insert(args.end(), {"--port", "1", "--json"});
        const CliResult result = Run(args);
        EXPECT_EQ(result.Status, cli::WrongUsage) << result.Err;
    }
    EXPECT_EQ(StopSimulators(), (Frames{"21 03 01 0d -> reply", "21 03 01 0d -> reply",
                                        "26 03 03 02 7f 0a 0d -> reply", "24 03 13 02 0d -> reply",
                                        "24 03 13 02 0d -> reply"}));
}

TEST_F(Service, WrongRepliesFailWithStatusOne) {
    StartSimulator(1, {"--fault", "check"});
    StartSimulator(2, {"--fault", "first-byte"});
    SaveParameters(Settings(1, 1));
    const CliResult read = Run({"register", "read", "mode", "--port", "1"});
    EXPECT_EQ(read.Status, cli::DeviceFailed);
    EXPECT_EQ(read.Out, "");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"register", "write", "gain", "01", "02", "--port", "2"},
          {"diagnostics", "--port", "2"}}) {
        const CliResult result = Run(args);
        EXPECT_EQ(result.Status, cli::DeviceFailed) << args[0];
        EXPECT_EQ(result.Out, "");
    }
}

} // namespace
} // namespace zorm
