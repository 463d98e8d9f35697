#pragma once

// A long operation on the connection (a transfer batch, a listing, a delete) pumps events
// so the window stays alive; a second command started from inside that pump would find the
// connection carrying an open file, or would rebuild the list the batch is walking. Such
// commands ask OperationRunning() first and are ignored while it is true.
bool OperationRunning();

// Marks a long operation as running for as long as it lives.
class OperationLock
{
public:
    OperationLock();
    ~OperationLock();
    OperationLock(const OperationLock&) = delete;
    OperationLock& operator=(const OperationLock&) = delete;
};
