// The dry run (-n): in place of the copy passes, the lines they would write, each
// marked as not done, then one line with the files and bytes they would push and pull.
// Nothing is sent to the device and nothing is written on the host.
// Nothing here raises.
#pragma once

struct SyncContext;

void dryRunPasses(SyncContext* context);
