#pragma once
#include "common/FileListRow.h"
#include "common/Prompter.h"

#include "common/CancelFlag.h"
#include "remote/RemoteResult.h"
#include "transfer/TransferHost.h"
#include <optional>

// What the batch commands need beyond the step that moves bytes: the cursor, the two list
// rebuilds, the error box of a local file failure, and the questions a transfer asks while it
// is planned. The main window implements it.
class BatchHost : public TransferHost
{
public:
    // The arrow-with-hourglass cursor while true, the normal cursor again when false.
    virtual void setBusyCursor(bool busy) = 0;
    virtual void listRemoteFiles() = 0;
    virtual void listLocalFiles() = 0;
    // The error box of a local file-system failure, with the system's description.
    virtual void showFileError(const QString& text) = 0;
    // Asks `text` (whether to resume an earlier download or upload) with Resume, Start Over
    // and Cancel. A host that cannot ask starts over, as every transfer did before it could
    // resume.
    virtual ResumeAnswer askResume(const QString& text)
    {
        (void)text;
        return ResumeAnswer::StartOver;
    }
    // Asks the question `text` with Yes and No; a host that cannot ask answers No.
    virtual bool askYesNo(const QString& text)
    {
        (void)text;
        return false;
    }
    // The question about a file whose name the destination already holds (Prompter's
    // askExists).
    virtual ExistsAnswer askExists(const QString& text, bool canResume) = 0;
    // Asks for another name for such a file, starting from `proposal`; nothing when the user
    // cancelled.
    virtual std::optional<QString> askNewName(const QString& prompt, const QString& proposal) = 0;
};

// A host whose local folder is fixed, everything else passed on to another host: the
// subfolder of a folder download, and a batch that keeps writing where it started even when
// the user picks another local folder while it runs.
class FixedFolderHost final : public BatchHost
{
public:
    FixedFolderHost(BatchHost& outer, QString folder) : m_outer(outer), m_folder(std::move(folder))
    {}
    ServerSession& session() override { return m_outer.session(); }
    bool connected() const override { return m_outer.connected(); }
    bool lowerCaseUpload() const override { return m_outer.lowerCaseUpload(); }
    QString localFolder() const override { return m_folder; }
    ProgressSink& progress() override { return m_outer.progress(); }
    void reportFtpError(const QString& message, const RemoteResult& result) override
    {
        m_lastReported = result;
        m_outer.reportFtpError(message, result);
    }
    void warn(const QString& text) override { m_outer.warn(text); }
    ResumeAnswer askResume(const QString& text) override { return m_outer.askResume(text); }
    bool askYesNo(const QString& text) override { return m_outer.askYesNo(text); }
    const UnfinishedUploads* unfinishedUploads() const override
    {
        return m_outer.unfinishedUploads();
    }
    QByteArray serverIdentity() const override { return m_outer.serverIdentity(); }
    void setBusyCursor(bool busy) override { m_outer.setBusyCursor(busy); }
    void listRemoteFiles() override { m_outer.listRemoteFiles(); }
    void listLocalFiles() override { m_outer.listLocalFiles(); }
    void showFileError(const QString& text) override { m_outer.showFileError(text); }
    ExistsAnswer askExists(const QString& text, bool canResume) override
    {
        return m_outer.askExists(text, canResume);
    }
    std::optional<QString> askNewName(const QString& prompt, const QString& proposal) override
    {
        return m_outer.askNewName(prompt, proposal);
    }

    // The failure reported last through this host (none: nothing was).
    const RemoteResult& lastReported() const { return m_lastReported; }

private:
    BatchHost& m_outer;
    QString m_folder;
    RemoteResult m_lastReported;
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

// True while a batch may take its next item: Cancel was not pressed, and the connection is
// still there (one that was lost has been reported and closed; every item after it would
// fail the same way).
inline bool BatchGoesOn(const TransferHost& host)
{
    return !CancelRequested && host.connected();
}

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
