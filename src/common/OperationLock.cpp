#include "common/OperationLock.h"

namespace {
// Nested locks are normal: a batch holds one while the listing it ends with takes another.
int operationsRunning = 0;
} // namespace

bool OperationRunning()
{
    return operationsRunning > 0;
}

OperationLock::OperationLock()
{
    ++operationsRunning;
}

OperationLock::~OperationLock()
{
    --operationsRunning;
}
