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
#include "wininet.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <chrono>
#include <condition_variable>
#include <cstring>
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

// Closes the enumeration on every path out of the loop.
class FindHandle
{
public:
    explicit FindHandle(HINTERNET handle) : m_handle(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle()
    {
        if (m_handle)
            InternetCloseHandle(m_handle);
    }
    HINTERNET get() const { return m_handle; }

private:
    HINTERNET m_handle;
};

const QString kListingFailed = QStringLiteral("FTP Directory Listing Failed.");

// The service reads the whole listing before FtpFindFirstFileA returns, which takes seconds
// for a large folder on a slow server. The call runs on a helper thread while this thread
// keeps the window painted; clicks and keys wait until the call is back, so no command can
// touch the connection while the helper uses it. Only the progress dialog's Cancel, once
// offered, takes input: it makes the service end the listing on the helper's behalf. A
// failure is taken on the helper thread, whose last error it is.
HINTERNET findFirstWhilePainting(RemoteHost& host, WIN32_FIND_DATAA& entry, FtpFailure& failure)
{
    const HINTERNET connection = FtpConnection.ConnectionHandle;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    HINTERNET find = nullptr;
    std::thread helper([&] {
        const HINTERNET result =
            FtpFindFirstFileA(connection, nullptr, &entry, INTERNET_FLAG_RELOAD, 0);
        if (!result)
            failure = LastFtpFailure();
        const std::lock_guard lock(mutex);
        find = result;
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
            FtpCancelPendingCall(connection);
        lock.lock();
    }
    lock.unlock();
    helper.join();
    return find;
}

// The entries of the current remote directory; false when the enumeration ended with
// anything but "no more files", `failure` then saying why. A failed listing is not an empty
// folder: the user must not take a missing listing for a folder with nothing in it.
bool readEntries(RemoteHost& host, std::vector<FileListRow>& rows, FtpFailure& failure)
{
    FileListRowBuilder builder;
    WIN32_FIND_DATAA entry{};
    const FindHandle find(findFirstWhilePainting(host, entry, failure));
    if (!find.get())
        return failure.code == ERROR_NO_MORE_FILES;
    QElapsedTimer sincePump;
    sincePump.start();
    // No entry is skipped, "." and ".." included when the server lists them.
    do {
        rows.push_back(builder.build(entry));
        std::memset(&entry, 0, sizeof entry);
        if (sincePump.elapsed() >= kPumpIntervalMs) {
            host.processEvents(true);
            sincePump.restart();
        }
    } while (InternetFindNextFileA(find.get(), &entry));
    failure = LastFtpFailure();
    return failure.code == ERROR_NO_MORE_FILES;
}

// The directory part of the header. A server that cannot say where we are leaves it empty;
// one that is gone is reported, as no later command could reach it either.
QString currentDirectory(RemoteHost& host)
{
    char buffer[512] = {};
    DWORD length = sizeof buffer;
    if (!FtpGetCurrentDirectoryA(FtpConnection.ConnectionHandle, buffer, &length)) {
        if (IsConnectionLost(GetLastError()))
            ReportFtpError(host, kListingFailed);
        return {};
    }
    return ServerNameText(QByteArrayView(buffer, qstrnlen(buffer, sizeof buffer)));
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
    FtpFailure failure;
    // A listing the user cancelled shows no rows and no box: stopping it was asked for.
    const bool failed =
        !readEntries(host, rows, failure) && failure.code != ERROR_INTERNET_OPERATION_CANCELLED;
    if (failed && IsConnectionLost(failure.code)) {
        ReportFtpError(host, kListingFailed, failure);
        return; // the connection is gone: list and header were cleared with it
    }
    const QString directory = currentDirectory(host);
    // The box names the folder whose listing failed, where the server still says which it is.
    if (failed)
        ReportFtpError(host, kListingFailed, failure,
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
