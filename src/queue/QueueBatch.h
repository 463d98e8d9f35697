#pragma once
#include "queue/QueueTransfers.h"

#include <vector>

// Small queued files moved together through the session's batch call, where the session keeps
// several files in flight on its one connection. Each item keeps the rules of its single step:
// the planned choice about an existing target, an upload under a temporary name that takes the
// target's name only once the server confirmed it whole, a download written beside its target
// through the safe local writer and put in place only when whole.

// How many items and bytes one batch takes at most: memory stays bounded, and two workers on
// a tree of a thousand files both get a share.
constexpr int kQueueBatchFiles = 128;
constexpr qint64 kQueueBatchBytes = 16 * 1024 * 1024;

// Whether `item` may go in a batch: a whole small file of known size, not one that continues
// or leaves a copy remembered for a later try.
bool FitsQueueBatch(const QueueItem& item);

// What a batch ended with: a step for each item in the order given. An item the batch did not
// reach (a cancel, the program's end) comes back Queued, to be taken again.
struct QueueBatchSteps
{
    std::vector<QueueStep> steps;
    bool sessionLost = false;
    bool cancelled = false; // the batch itself was stopped
};

// Moves `items` (all the same direction) over `session`. `progress` gets the bytes of the
// whole batch moved so far and returns false to stop it.
QueueBatchSteps TransferQueuedBatch(ServerSession& session, const std::vector<QueueItem>& items,
                                    const QueueProgress& progress);
