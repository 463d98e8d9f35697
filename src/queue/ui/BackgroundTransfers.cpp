#include "queue/ui/BackgroundTransfers.h"

#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "common/FileListModel.h"
#include "ftp/FtpConnection.h"
#include "queue/PrompterOnThread.h"
#include "queue/QueuePlanning.h"
#include "queue/QueueStore.h"
#include "queue/TransferQueue.h"
#include "queue/ui/QueuePane.h"
#include "remote/ServerSession.h"
#include "remote/SessionLog.h"
#include "remote/SiteSession.h"
#include "sites/ProfilePasswords.h"
#include "transfer/BatchHost.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"

#include <QDockWidget>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>

#include <sys/stat.h>

#include <mutex>

namespace {

const QString kCaption = QStringLiteral("ZUL-FTP");

// "user@host" of a site, as the connection names its server before the port.
// As the window files its connection (without the port): an SSH server's under "sftp:".
QString serverOf(const SiteProfile& site)
{
    return QStringLiteral("%1%2@%3").arg(
        ProtocolOf(site) == SiteProtocol::Sftp ? QStringLiteral("sftp:") : QString(), site.userID,
        site.host.toLower());
}

// Every selected row, in order.
QList<FileListRow> selectedRows(const RowSelection& rows)
{
    QList<FileListRow> picked;
    for (int row = rows.nextSelected(-1); row >= 0; row = rows.nextSelected(row))
        picked << rows.row(row);
    return picked;
}

std::optional<HeldEntry> heldLocally(const QString& folder, const QString& name)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(JoinLocalPath(folder, name)).constData(), &info) != 0)
        return std::nullopt;
    return HeldEntry{S_ISDIR(info.st_mode), static_cast<qint64>(info.st_size),
                     static_cast<qint64>(info.st_mtim.tv_sec) * 1000};
}

// The remote list as shown: what the server's folder holds, without asking it again.
HeldLookup heldInList(const FileListModel& model)
{
    return [&model](const QString& name) -> std::optional<HeldEntry> {
        for (const FileListRow& row : model.rows()) {
            // A server on a case-blind file system takes "A.TXT" for "a.txt".
            if (row.name.compare(name, Qt::CaseInsensitive) == 0)
                return HeldEntry{row.isFolder(), row.size, RowTimeMs(row.modifiedTime)};
        }
        return std::nullopt;
    };
}

// The browsing connection's folder, which the queued paths start from; asked when not known.
QByteArray remoteFolder()
{
    QByteArray folder = FtpConnection.session().knownFolder();
    if (folder.isEmpty())
        FtpConnection.session().currentFolder(folder);
    return folder;
}

// Where the window's own connections log: the controller while it lives. A listing reads on a
// helper thread, so the line is posted under a lock the controller's end takes too.
struct BrowseLog
{
    std::mutex mutex;
    BackgroundTransfers* target = nullptr;
};
BrowseLog browseLog;

void logBrowseLine(void*, bool sent, const char* line, std::size_t length)
{
    const QString text = (sent ? QStringLiteral("[browse] > ") : QStringLiteral("[browse] < ")) +
                         QString::fromUtf8(line, static_cast<qsizetype>(length));
    const std::lock_guard lock(browseLog.mutex);
    if (BackgroundTransfers* target = browseLog.target)
        QMetaObject::invokeMethod(
            target, [target, text] { target->pane()->addLogLine(text); }, Qt::QueuedConnection);
}

} // namespace

BackgroundTransfers::BackgroundTransfers(TfrmMain& window, const QString& storePath)
    : QObject(&window), m_window(window), m_storePath(storePath)
{
    m_dock = new QDockWidget(tr("Transfers"), &window);
    m_dock->setObjectName(QStringLiteral("QueueDock"));
    m_dock->setFeatures(QDockWidget::DockWidgetClosable);
    m_pane = new QueuePane(m_dock);
    m_dock->setWidget(m_pane);
    window.addDockWidget(Qt::BottomDockWidgetArea, m_dock);
    if (window.mnuView)
        window.mnuView->addAction(m_dock->toggleViewAction());
    m_dock->setVisible(Settings.QueuePaneHeight > 0);
    if (Settings.QueuePaneHeight > 0)
        window.resizeDocks({m_dock}, {Settings.QueuePaneHeight}, Qt::Vertical);
    m_workerPrompter = std::make_unique<PrompterOnThread>(window.prompter(), this, m_stopping);
    {
        const std::lock_guard lock(browseLog.mutex);
        browseLog.target = this;
    }
    LogSessionsOfThisThread(&logBrowseLine, nullptr);
}

BackgroundTransfers::~BackgroundTransfers()
{
    {
        const std::lock_guard lock(browseLog.mutex);
        browseLog.target = nullptr;
    }
    stop();
}

bool BackgroundTransfers::takes() const
{
    if (!Settings.BackgroundTransfers || !m_window.isConnected())
        return false;
    // A quick connect keeps no password a worker could log on with: its transfers stay in
    // the window.
    return !Settings.LastSite.isEmpty() &&
           FtpConnection.ConnectedServer.section(QLatin1Char(':'), 0, -2) ==
               serverOf(ReadSiteForConnect(Settings.LastSite));
}

TransferQueue* BackgroundTransfers::queueForSite()
{
    const QString server = FtpConnection.ConnectedServer;
    if (m_queue && m_queueServer == server)
        return m_queue.get();
    if (m_queue && m_queue->busy()) {
        m_window.prompter().message(
            kCaption,
            tr("Transfers to %1 are still in the queue. Let them finish, or cancel them, before "
               "queueing transfers to %2.")
                .arg(m_queueServer, server),
            MessageIcon::Warning);
        return nullptr;
    }
    SiteProfile site = ReadSiteForConnect(Settings.LastSite);
    if (site.passwordInKeyring) {
        const std::optional<QString> password =
            PasswordForConnect(site, m_window.keyring(), m_window.prompter());
        if (!password)
            return nullptr;
        site.password = *password;
    }
    m_pane->setQueue(nullptr);
    m_queue.reset();
    std::unique_ptr<QueueStore> store;
    if (!m_storePath.isEmpty()) {
        store = std::make_unique<QueueStore>(m_storePath);
        store->setSite(site.siteName);
        if (!store->owned())
            m_pane->addLogLine(tr("Another running copy of ZUL-FTP keeps its queue in %1; this "
                                  "one keeps its queue until it ends only.")
                                   .arg(m_storePath));
    }
    PrompterOnThread* prompter = m_workerPrompter.get();
    auto opener = [site, prompter, ssh = m_window.sshOptions()](RemoteResult& result,
                                                                QString& why) {
        return OpenSiteSession(site, *prompter, result, why, ssh);
    };
    m_queue = std::make_unique<TransferQueue>(opener, server, std::move(store));
    m_queue->setWorkerLimit(Settings.SimultaneousTransfers);
    // Stopped uploads are remembered where the window's own are: either continues the other's.
    m_queue->setUnfinishedUploads(
        std::make_shared<UnfinishedUploads>(UnfinishedUploads::defaultFilePath()));
    m_queueServer = server;
    m_pane->setQueue(m_queue.get());
    connect(m_queue.get(), &TransferQueue::itemChanged, this, &BackgroundTransfers::showProgress);
    connect(m_queue.get(), &TransferQueue::itemsAdded, this, &BackgroundTransfers::showProgress);
    return m_queue.get();
}

void BackgroundTransfers::queueItems(const QList<QueueItem>& items)
{
    if (items.isEmpty())
        return;
    TransferQueue* queue = queueForSite();
    if (!queue)
        return;
    m_dock->show();
    queue->add(items);
    m_pane->addLogLine(tr("%1 item(s) queued for %2.").arg(items.size()).arg(m_queueServer));
}

void BackgroundTransfers::download(RowSelection& rows)
{
    const QList<FileListRow> picked = selectedRows(rows);
    if (picked.isEmpty())
        return;
    const QString folder = m_window.currentLocalFolder();
    QueuePlanner planner(m_window.prompter());
    const auto items =
        planner.downloads(picked, remoteFolder(), folder,
                          [&folder](const QString& name) { return heldLocally(folder, name); });
    if (items)
        queueItems(*items);
}

void BackgroundTransfers::upload(RowSelection& rows)
{
    const QString folder = m_window.currentLocalFolder();
    QList<LocalPick> picks;
    for (const FileListRow& row : selectedRows(rows))
        picks << LocalPick{folder, row.name, row.isFolder(), row.size, 0};
    if (picks.isEmpty())
        return;
    planUploads(picks);
}

void BackgroundTransfers::uploadPaths(const QStringList& paths)
{
    QList<LocalPick> picks;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        picks << LocalPick{info.absolutePath(), info.fileName(), info.isDir(), info.size(),
                           info.lastModified().toMSecsSinceEpoch()};
    }
    planUploads(picks);
}

void BackgroundTransfers::planUploads(const QList<LocalPick>& picks)
{
    QueuePlanner planner(m_window.prompter());
    // A copy a stopped upload (the window's or the queue's) left is asked about here, on the
    // window's thread, never by a worker.
    const UnfinishedUploads uploads(UnfinishedUploads::defaultFilePath());
    planner.setUnfinishedUploads(&uploads, FtpConnection.ConnectedServer.toUtf8());
    const auto items = planner.uploads(
        picks, remoteFolder(), heldInList(*m_window.RemoteFilesModel), Settings.LowerCaseUpload);
    if (items)
        queueItems(*items);
}

void BackgroundTransfers::showProgress()
{
    static const QRegularExpression kPrefix(QStringLiteral("^\\d+% - "));
    QString base = m_window.windowTitle();
    base.remove(kPrefix);
    const int percent = m_queue ? m_queue->overallPercent() : -1;
    m_window.setWindowTitle(percent < 0 ? base : QStringLiteral("%1% - %2").arg(percent).arg(base));
}

bool BackgroundTransfers::mayClose()
{
    if (!m_queue || !m_queue->busy())
        return true;
    return m_window.prompter().askYesNo(
        kCaption,
        tr("Transfers to %1 are still running or queued. Stop them and quit? What they did not "
           "finish is kept and offered to continue at the next start.")
            .arg(m_queueServer));
}

void BackgroundTransfers::stop()
{
    m_stopping = true;
    if (m_queue)
        m_queue->stop();
    m_stopping = false;
    if (m_dock && m_dock->isVisible())
        WriteQueuePaneHeight(m_dock->height(), m_window.prompter());
    else if (m_dock)
        WriteQueuePaneHeight(0, m_window.prompter());
}

void BackgroundTransfers::offerLeftBehind()
{
    if (m_storePath.isEmpty())
        return;
    QString site;
    QList<QueueItem> left;
    {
        // Read and let go of: the site's queue takes the store over once connected.
        QueueStore store(m_storePath);
        if (!store.owned())
            return;
        left = store.read(site);
        if (left.isEmpty())
            return;
        const bool go = m_window.prompter().askYesNo(
            kCaption,
            tr("%1 transfer(s) to the site %2 were not finished when ZUL-FTP last ended. "
               "Connect to %2 and continue them now? (No forgets them; partial files stay "
               "where they are.)")
                .arg(left.size())
                .arg(site));
        if (!go) {
            store.clear();
            return;
        }
    }
    if (!m_window.selectSite(site) || (!m_window.isConnected() && !m_window.ConnectToSite()))
        return;
    if (TransferQueue* queue = queueForSite()) {
        m_dock->show();
        queue->add(left);
    }
}
