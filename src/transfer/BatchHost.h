#pragma once
#include "ftp/FileListRow.h"
#include "transfer/TransferHost.h"

// What the batch commands need beyond the single-file engine: the cursor, the two list
// rebuilds and the error box of a local file failure. The main window implements it.
class BatchHost : public TransferHost
{
public:
    // The arrow-with-hourglass cursor while true, the normal cursor again when false.
    virtual void setBusyCursor(bool busy) = 0;
    virtual void listRemoteFiles() = 0;
    virtual void listLocalFiles() = 0;
    // The error box of a local file-system failure, with the system's description.
    virtual void showFileError(const QString& text) = 0;
};

// The rows of one file list as a batch walks them. The selection is read afresh at every
// step, because the user may change it while the batch pumps events.
class RowSelection
{
public:
    virtual ~RowSelection() = default;
    // The first selected row after `after` (-1: from the top), or -1 when there is none.
    virtual int nextSelected(int after) const = 0;
    virtual void deselect(int row) = 0;
    virtual FileListRow row(int index) const = 0;
};

// Shows the busy cursor for as long as it lives, a thrown error's way out included.
class BusyCursor
{
public:
    explicit BusyCursor(BatchHost& host) : m_host(host) { m_host.setBusyCursor(true); }
    ~BusyCursor() { m_host.setBusyCursor(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    BatchHost& m_host;
};
