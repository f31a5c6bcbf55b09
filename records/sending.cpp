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
        for (const OutboxEntry& entry : *entries) {
            (entry.Kind == OutboxKind::Record ? records : corrections).push_back(entry.Uuid);
        }
        RecordBatch batch;
        const auto details = local.Read(records);
        const auto read = local.ReadCorrections(corrections);
        if (!details || !read) {
            return localFailed();
        }
        for (const RecordDetails& record : *details) {
            batch.Records.push_back(record.Written);
        }
        batch.Corrections = *read;
        if (!server.Open() || !server.Store(batch, Queue::No)) {
            return serverFailed();
        }
        if (!local.MarkSent(*entries)) {
            return localFailed();
        }
        result.Sent += static_cast<int>(entries->size());
    }
}

} // namespace zorm
