#include "records/reference_instrument.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <tuple>

namespace zorm {

namespace {

bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The parts of a day in the order `layout` writes them: year, month, day or
// day, month, year.
std::string DayText(const char* layout, int first, unsigned second, int third) {
    char text[32];
    std::snprintf(text, sizeof text, layout, first, second, third);
    return text;
}

} // namespace

bool Instrument::operator==(const Instrument& other) const {
    return std::tie(Uuid, Identity, Calibrated, Due, Retired) ==
               std::tie(other.Uuid, other.Identity, other.Calibrated, other.Due, other.Retired) &&
           std::bit_cast<std::uint64_t>(Expanded) == std::bit_cast<std::uint64_t>(other.Expanded);
}

std::optional<Instrument> ActiveInstrument(const std::vector<Instrument>& list,
                                           std::string_view uuid) {
    const auto found = std::find_if(list.begin(), list.end(), [&](const Instrument& instrument) {
        return instrument.Uuid == uuid && !instrument.Retired;
    });
    return found == list.end() ? std::nullopt : std::optional<Instrument>(*found);
}

bool Overdue(const Instrument& instrument, Date day) {
    return day > instrument.Due;
}

std::optional<std::string> InstrumentProblem(const Instrument& instrument) {
    if (Blank(instrument.Identity.Description)) {
        return "Zadejte popis referenčního přístroje.";
    }
    if (Blank(instrument.Identity.SerialNumber)) {
        return "Zadejte výrobní číslo referenčního přístroje.";
    }
    if (!std::isfinite(instrument.Expanded) || instrument.Expanded <= 0) {
        return "Rozšířená nejistota referenčního přístroje musí být kladné číslo (°C, k = 2).";
    }
    if (!instrument.Calibrated.ok() || !instrument.Due.ok()) {
        return "Zadejte platné datum kalibrace a datum platnosti.";
    }
    if (instrument.Due < instrument.Calibrated) {
        return "Platnost kalibrace nemůže skončit dříve, než byl přístroj kalibrován.";
    }
    return std::nullopt;
}

ReferenceSnapshot SnapshotOf(const Instrument& instrument, Date day) {
    return {instrument.Uuid, instrument.Expanded, instrument.Calibrated, instrument.Due,
            Overdue(instrument, day)};
}

std::string OverdueQuestion(const Instrument& instrument) {
    return "Referenční přístroj " + instrument.Identity.Description + " (výrobní číslo " +
           instrument.Identity.SerialNumber + ") má platnost kalibrace do " +
           CzechDateText(instrument.Due) +
           ", lhůta uplynula. Záznam kalibrace to uvede. Pokračovat v ukládání?";
}

std::string DateText(Date date) {
    return DayText("%04d-%02u-%02d", static_cast<int>(date.year()),
                   static_cast<unsigned>(date.month()), static_cast<int>(unsigned(date.day())));
}

std::optional<Date> ParseDate(std::string_view text) {
    // Exactly "yyyy-mm-dd".
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const auto number = [text](std::size_t from, std::size_t length, int& value) {
        const char* first = text.data() + from;
        const auto [end, ec] = std::from_chars(first, first + length, value);
        return ec == std::errc() && end == first + length && *first != '-' && *first != '+';
    };
    int year = 0;
    int month = 0;
    int day = 0;
    if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day)) {
        return std::nullopt;
    }
    const Date date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                    std::chrono::day(static_cast<unsigned>(day))};
    return date.ok() ? std::optional(date) : std::nullopt;
}

std::string CzechDateText(Date date) {
    return DayText("%d. %u. %d", static_cast<int>(unsigned(date.day())),
                   static_cast<unsigned>(date.month()), static_cast<int>(date.year()));
}

Date LocalDate(std::int64_t utcMs, std::int32_t offsetSeconds) {
    using namespace std::chrono;
    const auto local = sys_time<milliseconds>(milliseconds(utcMs)) + seconds(offsetSeconds);
    return Date(floor<days>(local));
}

} // namespace zorm
