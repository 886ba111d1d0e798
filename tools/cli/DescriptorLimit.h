#pragma once
// Every module in flight holds one socket, so the process's descriptor limit, not --jobs alone,
// bounds how many modules are asked at once: past it the system gives no socket at all.

#include <cstddef>

// Raises the soft limit to the hard one, as far as the system allows; otherwise the limit stays.
void RaiseDescriptorLimit();

// The sockets that may still be opened now, keeping room for the files and the tool's own
// descriptors that a run opens beside them.
size_t ConnectionsAllowed();

// requested, lowered to ConnectionsAllowed() when a run over this many modules would otherwise go
// past the limit; said once on stderr, with the new value.
int JobsWithinDescriptorLimit(int requested, size_t modules);
