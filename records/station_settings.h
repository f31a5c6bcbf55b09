// The settings of this calibration station, kept in the data folder in the
// small UTF-8 file Stanice.ini (the `key=value` lines of Kontakt.ini):
//
//   ; ZORM5816A: the settings of this calibration station
//   Operator=Jana Nováková
//   ReferenceDescription=Pt100 reference thermometer
//   ReferenceSerialNumber=12345
//   ReferenceCertificateNumber=K-2024/117
//   SharedDatabase=postgresql://kalibrace@db.plant/zorm
//   Tag.COM3.1=TT-101
//   ReferenceInUse=5f0c3e2a-8d1b-4c6e-9f7a-2b3c4d5e6f70
//   AmbientTemperature=23.1
//   AmbientHumidity=41
//   Tolerance=0.1
//
// Every record takes the operator, the reference in use, the environment and
// the tag of its converter (by port and address) from here at its commit.
// Numbers are written with a decimal point and read with a point or a comma. Lines this build
// does not know are kept as they are when the file is written again.
#pragma once

#include "records/assistant_settings.h"
#include "records/calibration_record.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zorm {

inline constexpr const char* StationSettingsFileName = "Stanice.ini";

struct StationSettings {
    std::string Operator;
    ReferenceInstrument Reference;
    // The address of the plant's shared database; empty: records stay in the
    // local file only.
    std::string SharedDatabase;
    // The tag of the converter at (port, address).
    std::map<std::pair<int, int>, std::string> Tags;
    // The calibration assistant's panel (records/assistant_settings.h).
    AssistantSettings Assistant;
    // Lines of a newer build, kept in their order.
    std::vector<std::pair<std::string, std::string>> Other;
    // The reference instrument in use: the UUID of an instrument of the
    // station's list (Instrument); empty: none picked, and the records take
    // Reference above.
    std::string ReferenceInUse;
    // Where the operator gives them: the ambient temperature (°C) and the
    // relative humidity (%) of the calibrations, which the records keep, and
    // the tolerance (°C) that a certificate judges conformity by.
    std::optional<double> AmbientTemperature;
    std::optional<double> AmbientHumidity;
    std::optional<double> Tolerance;

    bool operator==(const StationSettings&) const = default;

    // The tag set for the converter at `port` and `address`, if any.
    std::optional<std::string> TagOf(int port, int address) const;
};

StationSettings ParseStationSettings(std::string_view text);
// A number of the file or of an entry field: blanks around it, a decimal
// point or comma, finite; nothing for anything else ("1e3" and "-0,5" are
// numbers, "12 °C" is not).
std::optional<double> ParseDecimal(std::string_view text);
// The file's text. Line breaks in a value become blanks, blanks around it go.
std::string FormatStationSettings(const StationSettings& settings);

// Reads StationSettingsFileName from the working directory (the data folder);
// a missing file gives empty settings.
StationSettings LoadStationSettings();
// Writes it so that the old file stays whole until the new one is; false
// when it cannot be written.
bool SaveStationSettings(const StationSettings& settings);

} // namespace zorm
