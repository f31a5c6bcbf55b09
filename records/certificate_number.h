// Certificate numbers: the issuing station and its running number,
// "kalibrace-1/00007".
//
// A record keeps the number it was first given: issuing its certificate again
// gives the same number. A station gives new numbers from its own counter,
// kept in its own record file (its largest number there, plus one), so two
// stations on one shared database never give the same number, and a station
// that cannot reach the server goes on counting. With a shared database each
// new number is sent there as records are, and before giving one the station
// asks the server whether the record has a number already (from any station)
// and where its own numbers ended there, so that a station whose record file
// was replaced does not count again from one. Such a station, holding none of
// its own numbers yet, waits for the server before it gives its first one.
#pragma once

#include "records/record_database.h"

#include <QString>

#include <optional>
#include <string>

namespace zorm {

std::string CertificateNumberText(const std::string& station, int sequence);

struct CertificateNumber {
    std::optional<IssuedCertificate> Issued;
    // Why no number was given (a Czech text), when none was.
    QString Error;
    // The server failed while it was asked: the caller lets it rest.
    bool ServerFailed = false;
};

// The number of the record `recordUuid` for a certificate of `station`.
// `server`: the shared database, open, or nullptr when none is set or it
// cannot be reached (`shared` tells which).
CertificateNumber NumberForCertificate(RecordDatabase& local, RecordDatabase* server, bool shared,
                                       const std::string& recordUuid, const std::string& station);

} // namespace zorm
