#pragma once
#include "FtpServerFixture.h"
#include "ScriptedPrompter.h"

#include "common/FileListModel.h"
#include "ftp/RemoteHost.h"

#include "common/CancelFlag.h"
#include "common/ProgressSink.h"
#include "remote/FtpServerSession.h"
#include "transfer/BatchHost.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"
#include "wininet.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <vector>

// A progress dialog that records what it was told. `onUpdate` runs inside every
// UpdateProgress, as a click on Cancel would during the real dialog's event pump.
class RecordingProgress final : public ProgressSink
{
public:
    void ShowProgress(const QString& message, const QString& title, bool showBar,
                      bool showStats) override
    {
        events << QStringLiteral("show %1|%2|%3%4").arg(title, message).arg(showBar).arg(showStats);
        visible = true;
    }
    void UpdateProgress(int percent, qint64 bytesDone, qint64 bytesTotal, double) override
    {
        ++updates;
        lastPercent = percent;
        lastDone = bytesDone;
        lastTotal = bytesTotal;
        if (onUpdate)
            onUpdate(updates);
    }
    void SetProgressPosition(int percent) override
    {
        events << QStringLiteral("bar %1").arg(percent);
    }
    void CloseProgress() override
    {
        events << QStringLiteral("close");
        visible = false;
    }

    QStringList events;
    std::function<void(int update)> onUpdate;
    int updates = 0;
    int lastPercent = -1;
    qint64 lastDone = -1;
    qint64 lastTotal = -1;
    bool visible = false;
};

// The window around a remote command (a listing, a tree delete, the connect): its boxes are
// scripted, the rest is recorded in plain fields. The site it names is "Site".
class WindowTestHost final : public RemoteHost
{
public:
    Prompter& prompter() override { return script; }
    ProgressSink& progress() override { return progressLog; }
    void setCursor(Cursor) override {}
    QString currentSiteName() const override { return QStringLiteral("Site"); }
    void setConnectionStatus(const QString& text) override { status = text; }
    void UpdateCommandState(bool) override {}
    void showConfigure() override {}
    FileListModel& remoteFiles() override { return files; }
    void setRemoteHeader(const QString&) override {}
    void processEvents(bool) override {}
    SshOptions sshOptions() const override { return ssh; }

    ScriptedPrompter script;
    RecordingProgress progressLog;
    FileListModel files;
    QString status;
    SshOptions ssh;
};

// The program around the engine, as the tests see it: every report, warning, cursor change
// and list rebuild lands in `log` in the order it happened.
class TestTransferHost final : public BatchHost
{
public:
    // A session over `connection`, made anew when a test sets another one.
    ServerSession& session() override
    {
        if (shared)
            return *shared;
        if (!m_session || m_session->connectionHandle() != connection)
            m_session = std::make_unique<FtpServerSession>(connection, nullptr, false);
        return *m_session;
    }
    bool connected() const override { return shared || connection != nullptr; }
    bool lowerCaseUpload() const override { return lowerCase; }
    QString localFolder() const override { return folder; }
    ProgressSink& progress() override { return sink; }
    void reportFtpError(const QString& message, const RemoteResult&) override
    {
        log << QStringLiteral("error %1").arg(message);
        sink.CloseProgress();
        busy = false;
    }
    void warn(const QString& text) override { log << QStringLiteral("warn %1").arg(text); }
    // Logged as "ask <text>"; answered from `resumeAnswers` in turn, Start Over when empty.
    ResumeAnswer askResume(const QString& text) override
    {
        log << QStringLiteral("ask %1").arg(text);
        return resumeAnswers.isEmpty() ? ResumeAnswer::StartOver : resumeAnswers.takeFirst();
    }
    // Logged as "ask <text>"; answered from `yesNoAnswers` in turn, No when empty.
    bool askYesNo(const QString& text) override
    {
        log << QStringLiteral("ask %1").arg(text);
        return !yesNoAnswers.isEmpty() && yesNoAnswers.takeFirst();
    }
    const UnfinishedUploads* unfinishedUploads() const override { return uploads; }
    QByteArray serverIdentity() const override { return server; }
    void setBusyCursor(bool on) override { busy = on; }
    void listRemoteFiles() override { log << QStringLiteral("list remote"); }
    void listLocalFiles() override { log << QStringLiteral("list local"); }
    void showFileError(const QString& text) override
    {
        log << QStringLiteral("file error %1").arg(text);
    }
    // Logged as "exists <first line of text>"; answered from `existsAnswers` in turn,
    // Overwrite when empty.
    ExistsAnswer askExists(const QString& text, bool canResume) override
    {
        log << QStringLiteral("exists %1%2")
                   .arg(text.section('\n', 0, 0),
                        canResume ? QStringLiteral(" [resume]") : QString());
        return existsAnswers.isEmpty() ? ExistsAnswer{ExistsAction::Overwrite, false}
                                       : existsAnswers.takeFirst();
    }
    // Logged as "rename <proposal>"; answered from `newNames` in turn, cancelled when empty.
    std::optional<QString> askNewName(const QString&, const QString& proposal) override
    {
        log << QStringLiteral("rename %1").arg(proposal);
        return newNames.isEmpty() ? std::nullopt : newNames.takeFirst();
    }

    HINTERNET connection = nullptr;
    // A session to use in place of one over `connection` (the browsing connection's).
    ServerSession* shared = nullptr;
    bool lowerCase = false;
    QString folder;
    RecordingProgress sink;
    QStringList log;
    QList<ResumeAnswer> resumeAnswers;
    QList<bool> yesNoAnswers;
    QList<ExistsAnswer> existsAnswers;
    QList<std::optional<QString>> newNames;
    const UnfinishedUploads* uploads = nullptr; // none: stopped uploads are not remembered
    QByteArray server = "user@127.0.0.1:21";
    bool busy = false;

private:
    std::unique_ptr<FtpServerSession> m_session;
};

// Rows of a file list with a selection, for the batch commands.
class TestSelection final : public RowSelection
{
public:
    int nextSelected(int after) const override
    {
        for (int i = after + 1; i < int(rows.size()); ++i) {
            if (selected[size_t(i)])
                return i;
        }
        return -1;
    }
    void deselect(int row) override { selected[size_t(row)] = false; }
    FileListRow row(int index) const override { return rows[size_t(index)]; }

    void add(const QString& name, qint64 size, bool folder = false, bool select = true)
    {
        FileListRow row;
        row.name = name;
        row.imageIndex = folder ? kFolderImage : kFileImage;
        row.size = folder ? 0 : size;
        rows.push_back(row);
        selected.push_back(select);
    }

    std::vector<FileListRow> rows;
    std::vector<bool> selected;
};

// One connection to a test server, closed when the test ends.
class TestConnection
{
public:
    ~TestConnection() { close(); }
    bool open(quint16 port)
    {
        internet = InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (!internet)
            return false;
        connection = InternetConnectA(internet, "127.0.0.1", port, "user", "secret",
                                      INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
        return connection != nullptr;
    }
    void close()
    {
        if (connection)
            InternetCloseHandle(connection);
        if (internet)
            InternetCloseHandle(internet);
        connection = internet = nullptr;
    }
    QString currentDirectory() const
    {
        char buffer[512] = {};
        DWORD length = sizeof buffer;
        if (!FtpGetCurrentDirectoryA(connection, buffer, &length))
            return QStringLiteral("<failed %1>").arg(GetLastError());
        return QString::fromUtf8(buffer);
    }

    HINTERNET internet = nullptr;
    HINTERNET connection = nullptr;
};

// Test data helpers.
inline QByteArray PatternBytes(qint64 size, int seed = 0)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char((i * 131 + seed * 7 + i / 4096) % 251);
    return data;
}

inline bool WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(path.left(path.lastIndexOf('/')));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Waits (at most ten seconds) until the server has written data into a file of `folder`
// matching `pattern`: then it has surely taken the upload's data connection in. (pyftpdlib
// loses track of a data connection that is reset before it took it in.)
inline bool ServerIsStoring(const QString& folder, const QString& pattern)
{
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        for (const QFileInfo& info : QDir(folder).entryInfoList({pattern}, QDir::Files)) {
            if (info.size() > 0)
                return true;
        }
        QThread::msleep(5);
    }
    return false;
}

inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// The names of the partial data that downloads of `name` left in `folder`.
inline QStringList PartialFiles(const QString& folder, const QString& name)
{
    QStringList found;
    for (const QString& entry : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (IsPartialDownloadOf(entry, name))
            found << entry;
    }
    return found;
}

// The contents of the one partial file a download of `name` left in `folder`.
inline QByteArray ReadPartial(const QString& folder, const QString& name)
{
    const QStringList found = PartialFiles(folder, name);
    if (found.size() != 1)
        return QByteArray("<%1 partial files>").replace("%1", QByteArray::number(found.size()));
    return ReadFile(folder + '/' + found.first());
}
