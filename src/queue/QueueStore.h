#pragma once
#include "queue/QueueItem.h"

#include <QList>
#include <QLockFile>
#include <QString>

#include <memory>

// Where a transfer queue is kept between runs: a file in the data folder, replaced whole on
// every change (a crash leaves the last whole version), owned by one running copy of the
// program at a time. A second copy gets no ownership and keeps its queue in memory, so two
// copies never overwrite each other's list.
class QueueStore
{
public:
    // The data folder's "zulftp-queue".
    static QString defaultFilePath();

    explicit QueueStore(QString filePath);
    ~QueueStore();
    QueueStore(const QueueStore&) = delete;
    QueueStore& operator=(const QueueStore&) = delete;

    const QString& filePath() const { return m_filePath; }
    // True when this copy of the program keeps the queue in the file.
    bool owned() const { return m_owned; }
    const QString& errorText() const { return m_error; }

    // The site the queue is for (the profile's name), kept with the items.
    void setSite(const QString& site) { m_site = site; }
    // Keeps the items that are still to do or failed; finished and cancelled ones are history
    // only this run shows. Does nothing (and succeeds) when another copy owns the file.
    bool write(const QList<QueueItem>& items);
    // What an earlier run left to do: its site, and its items, running ones queued again.
    QList<QueueItem> read(QString& site) const;
    // Forgets what was left (the user chose not to continue it).
    bool clear();

private:
    QString m_filePath;
    QString m_site;
    QString m_error;
    std::unique_ptr<QLockFile> m_lock;
    bool m_owned = false;
};
