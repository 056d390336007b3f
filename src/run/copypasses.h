// The copy passes: the push pass sends new and newer host files, the pull pass
// fetches new and newer device files, each copy bracketed by its copy line.
// Raise: both passes, on device and connection faults and a host file that cannot be
// opened or created.
#pragma once

struct SyncContext;

// Each returns false when a copy failed on the host side (the run then ends with
// its "Can't copy" message) and raises on device and connection faults.
bool pushPass(SyncContext* context);
bool pullPass(SyncContext* context);
