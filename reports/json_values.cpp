#include "reports/json_values.h"

#include <QJsonArray>

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>

namespace zorm {

QJsonValue Json(const std::optional<double>& value) {
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonObject JsonCubic(const Cubic& cubic) {
    QJsonObject object;
    QJsonArray bits;
    const std::array<const char*, 4> names = {"A3", "A2", "A1", "A0"};
    const std::array<double, 4> values = {cubic.A3, cubic.A2, cubic.A1, cubic.A0};
    for (std::size_t i = 0; i < values.size(); ++i) {
        object[names[i]] = values[i];
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx",
                      static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(values[i])));
        bits.append(QString::fromLatin1(hex));
    }
    object["bits"] = bits;
    return object;
}

} // namespace zorm
