// The run: root checks, connection, transport, sync mode, comparison, listing,
// push and pull passes, QUIT and summary. Returns the exit code; raises a SyncError
// for every fatal error of the run, which main reports.
#pragma once

struct SyncContext;

int runSync(SyncContext* context);
