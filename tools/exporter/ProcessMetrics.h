#pragma once
// The process's own figures under the names Prometheus' client libraries give them
// (process_cpu_seconds_total, process_resident_memory_bytes ...), read from /proc/self.

#include "MetricsText.h"

// Adds the process families to page.
void AddProcessMetrics(TMetricsText& page);
