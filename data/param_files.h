// The three files of the working directory: Parametry.par (device settings and
// both parameter sets), ZORM5816.par (the exported coefficients) and
// ZORM5816.txt (their readable export). Each operation reports success and
// shows nothing.
#pragma once

#include "data/context.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace zorm {

inline constexpr const char* ParametersFileName = "Parametry.par";
inline constexpr const char* ConstantsFileName = "ZORM5816.par";
inline constexpr const char* ConstantsTextFileName = "ZORM5816.txt";

// Sizes of the two binary files: DeviceSettings and two parameter sets
// (5 + 824 + 824), and PolyCoeffs.
inline constexpr std::size_t ParametersFileSize = 1653;
inline constexpr std::size_t ConstantsFileSize = 96;

// Writes DeviceSettings, UserParams and FactoryParams (1653 bytes). The old
// file is replaced only once the new one is complete on disk.
bool SaveParameters(const Context& context);
// Reads Parametry.par into the three records. A missing file is false and
// changes nothing; a short file fills the records from its bytes in order.
bool LoadParameters(Context& context);
// Writes PolyCoeffs to ZORM5816.par (96 bytes), replacing the old file only
// once the new one is complete.
bool SaveConstants(const Context& context);
// Reads ZORM5816.par into PolyCoeffs, like LoadParameters.
bool LoadConstants(Context& context);
// Writes the seven CR LF lines of ZORM5816.txt in Windows-1250, with the
// coefficients of PolyCoeffs in general(v, 8) and the separator given.
bool ExportConstantsText(const Context& context, char sep);

// Writes `bytes` to the file `name` of the working directory the way the
// files above are saved: the old contents stay until the new ones are
// complete on disk. For the program's other small files.
bool SaveFileContents(const char* name, std::span<const std::uint8_t> bytes);

} // namespace zorm
