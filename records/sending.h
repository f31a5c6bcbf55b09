// Sending what waits in the local file to the shared database, exactly once:
// records, corrections and certificate numbers.
//
// Each batch goes to the server in one transaction; the server keeps each
// UUID once, so a batch sent again stores nothing twice. Only after the
// server's commit succeeded are the entries marked sent in the local file:
// a program that stops in between sends them again at its next start, and
// the server takes nothing from it.
#pragma once

#include "records/record_database.h"

#include <QString>

namespace zorm {

struct SendResult {
    // Records, corrections and numbers the server took in this run.
    int Sent = 0;
    // Empty when everything that waited went out.
    QString Error;
    // The failure was the server's (unreachable, refusing), not the local
    // file's.
    bool ServerFailed = false;
};

SendResult SendPending(RecordDatabase& local, RecordDatabase& server, int batchSize = 100);

} // namespace zorm
