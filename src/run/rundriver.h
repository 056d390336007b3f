// The run: root checks, connection, transport, sync mode, comparison, listing,
// push and pull passes, QUIT and summary. Returns the exit code.
#pragma once

struct SyncContext;

int runSync(SyncContext* context);
