#include "records/certificate_number.h"

#include <cstdio>

namespace zorm {

std::string CertificateNumberText(const std::string& station, int sequence) {
    char number[16];
    std::snprintf(number, sizeof number, "%05d", sequence);
    return station + "/" + number;
}

CertificateNumber NumberForCertificate(RecordDatabase& local, RecordDatabase* server, bool shared,
                                       const std::string& recordUuid, const std::string& station) {
    CertificateNumber result;
    const auto failed = [&result](RecordDatabase& database) {
        result.Error = database.LastError();
        return result;
    };
    const auto here = local.CertificatesOf(recordUuid);
    if (!here) {
        return failed(local);
    }
    if (!here->empty()) {
        result.Issued = here->front();
        return result;
    }
    int after = 0;
    if (server) {
        const auto there = server->CertificatesOf(recordUuid);
        const auto last = there ? server->LastCertificateSequence(station) : std::nullopt;
        if (!last) {
            result.ServerFailed = true;
            return failed(*server);
        }
        if (!there->empty()) {
            // Given by a station before: this one remembers it.
            if (!local.StoreCertificates({there->front()}, Queue::No)) {
                return failed(local);
            }
            result.Issued = there->front();
            return result;
        }
        after = *last;
    } else if (shared) {
        const auto mine = local.LastCertificateSequence(station);
        if (!mine) {
            return failed(local);
        }
        if (*mine == 0) {
            result.Error = QStringLiteral(
                "Číslo kalibračního listu nelze přidělit: sdílená databáze záznamů není "
                "dostupná a tato stanice zatím žádné číslo nepřidělila (její číslování "
                "navazuje na sdílenou databázi). Zkuste to znovu, až bude databáze dostupná.");
            return result;
        }
    }
    result.Issued =
        local.IssueCertificate(recordUuid, station, after, shared ? Queue::ForSending : Queue::No);
    if (!result.Issued) {
        return failed(local);
    }
    return result;
}

} // namespace zorm
