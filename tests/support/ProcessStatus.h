#pragma once

#include <QByteArray>

// Figures the kernel keeps for this process (/proc/self/status, Linux).
namespace ProcessStatus
{
// The number after key ("VmRSS:", "Threads:"; kilobytes for sizes), or -1.
long long Value(QByteArray const& key);
}
