#pragma once
#include "sites/ProfileStore.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>

class QDockWidget;
class PrompterOnThread;
class QueuePane;
class RowSelection;
class TfrmMain;
class TransferQueue;

// The main window's transfers in the background: Download, Upload and desktop drops plan
// their items on the window's thread and hand them to the queue of the connected site, whose
// workers open connections of their own. The pane at the bottom shows the queue and the log;
// the title shows the overall percentage while transfers run.
class BackgroundTransfers final : public QObject
{
public:
    // `storePath`: where the queue is kept between runs (empty: nowhere).
    BackgroundTransfers(TfrmMain& window, const QString& storePath);
    ~BackgroundTransfers() override;

    QueuePane* pane() const { return m_pane; }
    TransferQueue* queue() const { return m_queue.get(); }
    // True when the option is on and the window is connected to a saved FTP site: the
    // commands then queue their items instead of moving them in the window.
    bool takes() const;

    void download(RowSelection& rows);
    void upload(RowSelection& rows);
    void uploadPaths(const QStringList& paths);

    // Closing the window while transfers run asks first; true when the window may close.
    bool mayClose();
    // Stops the workers; what was unfinished stays in the store for the next start.
    void stop();
    // At start: a queue an earlier run left unfinished is offered to continue.
    void offerLeftBehind();

private:
    // The queue for the connected site, made when first needed; null (the user was told)
    // when the site cannot be reached from a worker.
    TransferQueue* queueForSite();
    void showProgress();
    void queueItems(const QList<struct QueueItem>& items);
    void planUploads(const QList<struct LocalPick>& picks);

    TfrmMain& m_window;
    QString m_storePath;
    QDockWidget* m_dock = nullptr;
    QueuePane* m_pane = nullptr;
    std::unique_ptr<TransferQueue> m_queue;
    QString m_queueServer; // "user@host:port" the queue's workers log on to
    std::atomic<bool> m_stopping{false};
    std::unique_ptr<PrompterOnThread> m_workerPrompter;
    QString m_titleBase;
};
