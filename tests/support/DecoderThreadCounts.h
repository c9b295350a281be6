#pragma once

#include "TimingBounds.h"

#include <QList>

// The decoder thread counts a case runs at. The optimised build takes one of
// each kind (one thread, fewer threads than pictures in flight, more than the
// cores, the most the setting allows); a sanitizer build, many times slower
// and there to find races and memory faults, takes the two ends.
namespace DecoderThreadCounts
{
inline QList<int> Each()
{
    return TimingBounds::SANITIZED ? QList<int> {1, 16} : QList<int> {1, 3, 9, 16};
}
} // namespace DecoderThreadCounts
