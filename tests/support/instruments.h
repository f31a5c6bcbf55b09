// A reference instrument of the station's list, for the tests of commits
// with the instrument in use: calibrated 400 days before its due date, which
// lies `dueInDays` days from the station's today (negative: overdue).
#pragma once

#include "records/record_stamp.h"
#include "records/reference_instrument.h"

#include <chrono>
#include <string>

namespace zorm::test {

inline Instrument InstrumentDueIn(int dueInDays, const std::string& description,
                                  double expanded = 0.03) {
    using namespace std::chrono;
    const sys_days due = sys_days(LocalToday()) + days(dueInDays);
    return {NewUuid(),
            {description, "SN " + description, "K " + description},
            expanded,
            Date(due - days(400)),
            Date(due)};
}

} // namespace zorm::test
