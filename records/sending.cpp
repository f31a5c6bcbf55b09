#include "records/sending.h"

namespace zorm {

SendResult SendPending(RecordDatabase& local, RecordDatabase& server, int batchSize) {
    SendResult result;
    const auto localFailed = [&] {
        result.Error = local.LastError();
        return result;
    };
    const auto serverFailed = [&] {
        result.Error = server.LastError();
        result.ServerFailed = true;
        return result;
    };
    for (;;) {
        const auto entries = local.Unsent(batchSize);
        if (!entries) {
            return localFailed();
        }
        if (entries->empty()) {
            return result;
        }
        std::vector<std::string> records;
        std::vector<std::string> corrections;
        std::vector<std::string> certificates;
        for (const OutboxEntry& entry : *entries) {
            (entry.Kind == OutboxKind::Record       ? records
             : entry.Kind == OutboxKind::Correction ? corrections
                                                    : certificates)
                .push_back(entry.Uuid);
        }
        RecordBatch batch;
        const auto details = local.Read(records);
        const auto read = local.ReadCorrections(corrections);
        const auto numbers = local.ReadCertificates(certificates);
        if (!details || !read || !numbers) {
            return localFailed();
        }
        for (const RecordDetails& record : *details) {
            batch.Records.push_back(record.Written);
        }
        batch.Corrections = *read;
        // Two transactions: should the second fail, nothing is marked sent
        // and the first stores nothing twice when it is sent again.
        if (!server.Open() || !server.Store(batch, Queue::No) ||
            !server.StoreCertificates(*numbers, Queue::No)) {
            return serverFailed();
        }
        if (!local.MarkSent(*entries)) {
            return localFailed();
        }
        result.Sent += static_cast<int>(entries->size());
    }
}

} // namespace zorm
