// A record file as the history window meets it after years of calibrations:
// records of plain commits ten minutes apart, with fifty tags, a tenth of
// them corrected to another tag.
#pragma once

#include "records/record_database.h"
#include "tests/support/random_records.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zorm::bench {

inline constexpr std::int64_t FirstRecordMs = 1'600'000'000'000;
inline constexpr std::int64_t RecordSpacingMs = 600'000;

inline void FillRecords(const DatabasePlace& place, int count) {
    test::Random random(2);
    RecordDatabase database(place);
    for (int first = 0; first < count; first += 500) {
        RecordBatch batch;
        for (int i = first; i < first + 500 && i < count; ++i) {
            const std::int64_t time = FirstRecordMs + RecordSpacingMs * i;
            batch.Records.push_back(test::PlainRecord(random, time));
            batch.Records.back().Tag = "TT-" + std::to_string(i % 50);
            if (i % 10 == 0) {
                batch.Corrections.push_back({test::RandomUuid(random), batch.Records.back().Uuid,
                                             CorrectedField::Tag, "TT-7", "Petr", time + 1, 0,
                                             "s"});
            }
        }
        if (!database.Store(batch, Queue::No)) {
            std::fprintf(stderr, "bench: %s\n", database.LastError().toStdString().c_str());
            std::exit(1);
        }
    }
}

} // namespace zorm::bench
