#include "ftp/RemoteListing.h"

#include "common/CancelFlag.h"
#include "common/FileListModel.h"
#include "common/FileListRows.h"
#include "common/ProgressSink.h"
#include "common/RemoteFilesCompare.h"
#include "common/SortState.h"
#include "ftp/FreedMemory.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteHost.h"
#include "ftp/RemoteSession.h"
#include "remote/ServerSession.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Events are let through about once per display frame: often enough that the window keeps
// repainting through a 100,000-entry listing, rarely enough to cost nothing measurable.
constexpr qint64 kPumpIntervalMs = 10;
// A listing that has not come back after this long offers Cancel in its progress dialog:
// short listings keep their plain message, a slow or stuck server can be walked away from.
constexpr qint64 kOfferCancelAfterMs = 2000;

const QString kListingFailed = QStringLiteral("FTP Directory Listing Failed.");

// The service reads the whole listing before its first entry comes, which takes seconds for a
// large folder on a slow server. The listing runs on a helper thread, which builds the rows
// too, while this thread keeps the window painted; clicks and keys wait until the listing is
// back, so no command can touch the connection while the helper uses it. Only the progress
// dialog's Cancel, once offered, takes input: it ends the listing on the helper's behalf.
// A failed listing is not an empty folder: the user must not take a missing listing for a
// folder with nothing in it.
RemoteResult readEntries(RemoteHost& host, std::vector<FileListRow>& rows)
{
    ServerSession& session = FtpConnection.session();
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    RemoteResult result;
    std::thread helper([&] {
        FileListRowBuilder builder;
        RemoteListing listing;
        // No entry is skipped, "." and ".." included when the server lists them.
        const RemoteResult listed =
            session.list(session.knownFolder(), listing, ListPurpose::Show,
                         [&](RemoteEntry&& entry) { rows.push_back(builder.build(entry)); });
        const std::lock_guard lock(mutex);
        result = listed;
        done = true;
        finished.notify_one();
    });
    QElapsedTimer waited;
    waited.start();
    bool cancelOffered = false;
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(kPumpIntervalMs),
                              [&] { return done; })) {
        lock.unlock();
        if (!cancelOffered && waited.elapsed() >= kOfferCancelAfterMs) {
            host.progress().OfferCancel();
            cancelOffered = true;
        }
        if (cancelOffered)
            host.processEventsForCancel();
        else
            host.processEvents(false);
        // Asked again on every round: a request that came before the listing started
        // reading is ignored by the service.
        if (cancelOffered && CancelRequested)
            session.cancel();
        lock.lock();
    }
    lock.unlock();
    helper.join();
    return result;
}

// The directory part of the header. A server that cannot say where we are leaves it empty;
// one that is gone is reported, as no later command could reach it either.
// After a successful listing of the folder the server named last time, that name stands: the
// listing itself showed the connection alive, and the session has not moved since.
QString currentDirectory(RemoteHost& host, bool listed)
{
    ServerSession& session = FtpConnection.session();
    if (listed && !FtpConnection.ListedFolder.isEmpty() &&
        session.knownFolder() == FtpConnection.ListedFolder)
        return ServerNameText(FtpConnection.ListedFolder);
    QByteArray path;
    const RemoteResult asked = session.currentFolder(path);
    if (!asked) {
        FtpConnection.ListedFolder.clear();
        if (asked.failure == RemoteFailure::ConnectionLost)
            ReportFtpError(host, kListingFailed, asked);
        return {};
    }
    FtpConnection.ListedFolder = listed ? path : QByteArray();
    return ServerNameText(path);
}

} // namespace

QString RemoteHeaderCaption(const QString& connectedHost, const QString& directory)
{
    return connectedHost + directory;
}

void ListRemoteFiles(RemoteHost& host)
{
    // A cancelled batch lists the folder at its end; its Cancel must not end that listing,
    // and the flag is given back afterwards for the batch's caller.
    const bool cancelledBefore = std::exchange(CancelRequested, false);
    const auto restoreCancel = qScopeGuard([&] { CancelRequested |= cancelledBefore; });
    host.setCursor(RemoteHost::Cursor::Hourglass);
    host.progress().ShowProgress(QStringLiteral("Retrieving Remote Directory File List"),
                                 QStringLiteral("Retrieving"), false, false);
    FileListModel& list = host.remoteFiles();
    ClearFileList(list);
    std::vector<FileListRow> rows;
    // A listing the user cancelled shows no rows and no box: stopping it was asked for.
    const RemoteResult listed = readEntries(host, rows);
    const bool failed = !listed && listed.failure != RemoteFailure::Cancelled;
    if (failed && listed.failure == RemoteFailure::ConnectionLost) {
        ReportFtpError(host, kListingFailed, listed);
        return; // the connection is gone: list and header were cleared with it
    }
    const QString directory = currentDirectory(host, static_cast<bool>(listed));
    // The box names the folder whose listing failed, where the server still says which it is.
    if (failed)
        ReportFtpError(host, kListingFailed, listed,
                       directory.isEmpty() ? QString() : FolderAbout(directory));
    if (!FtpConnection.Connected)
        return;
    host.setRemoteHeader(RemoteHeaderCaption(FtpConnection.ConnectedHost, directory));
    // Sorted before it reaches the view, so the list is laid out once.
    SortFileListRows(rows, RemoteSort);
    // The sort's freed scratch (36 MB for a million rows) goes back before the view lays the
    // rows out in pages of its own, rather than being held beside them.
    GiveBackFreedMemory(rows.size());
    list.setRows(std::move(rows));
    host.progress().CloseProgress();
    host.setCursor(RemoteHost::Cursor::Default);
}
