#pragma once
#include "remote/ServerSession.h"

#include "sftp/SftpClient.h"

#include <QString>

#include <memory>

// A session over our SFTP engine: every path is absolute, links are listed as links, and
// transfers keep the engine's requests in flight while the caller reads or writes the stream.
class SftpServerSession final : public ServerSession
{
public:
    // Over a client that is logged on; `host` names the server in messages.
    SftpServerSession(std::unique_ptr<sftp::SftpClient> client, QString host);
    ~SftpServerSession() override;
    SftpServerSession(const SftpServerSession&) = delete;
    SftpServerSession& operator=(const SftpServerSession&) = delete;

    SessionTraits traits() const override;
    RemoteResult currentFolder(QByteArray& path) override;
    QByteArray knownFolder() const override { return m_known; }
    RemoteResult changeFolder(const QByteArray& path) override;
    RemoteResult list(const QByteArray& folder, RemoteListing& listing,
                      ListPurpose purpose = ListPurpose::Show,
                      const std::function<void(RemoteEntry&&)>& each = {}) override;
    RemoteResult stat(const QByteArray& path, RemoteEntry& entry) override;
    RemoteResult makeFolder(const QByteArray& path) override;
    RemoteResult removeFolder(const QByteArray& path) override;
    RemoteResult removeFile(const QByteArray& path) override;
    RemoteResult rename(const QByteArray& from, const QByteArray& to) override;
    std::unique_ptr<RemoteStream> openRead(const QByteArray& path, qint64 offset,
                                           RemoteResult& result,
                                           TransferMode mode = TransferMode::Binary) override;
    std::unique_ptr<RemoteStream> openWrite(const QByteArray& path, qint64 appendAt,
                                            RemoteResult& result,
                                            TransferMode mode = TransferMode::Binary) override;
    // Many files in flight at once on the one channel (the engine's batches).
    RemoteResult transferFiles(BatchDirection direction, std::vector<RemoteBatchFile>& files,
                               const std::function<bool(qint64 bytes)>& progress) override;
    void cancel() override { m_client->cancel(); }

    // The engine's plain words for the call that failed last: what, on which file and host,
    // and why (a log-on or host-key failure has no server reply to show).
    QString failureText() const;
    const QString& host() const { return m_host; }

private:
    // Starts a call: a cancel meant for an earlier one does not end it.
    sftp::SftpClient& begin();
    RemoteResult done(bool succeeded) const;

    std::unique_ptr<sftp::SftpClient> m_client;
    QString m_host;
    QByteArray m_known; // the folder changeFolder() went to; empty: none yet
};

// The result of a failed engine call.
RemoteResult SftpResult(const sftp::Error& error);

// A listed or looked-up entry named `name`.
RemoteEntry SftpEntry(const std::string& name, const sftp::Attributes& attributes);

// Connects and logs on, asking `prompts` for passwords and unknown host keys; null with
// `result` and `why` (the engine's plain words) saying why when that failed.
std::unique_ptr<SftpServerSession> OpenSftpSession(const sftp::ConnectOptions& options,
                                                   const sftp::PromptHandler& prompts,
                                                   RemoteResult& result, QString& why);
