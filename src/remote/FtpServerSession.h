#pragma once
#include "remote/ServerSession.h"

#include "wininet.h"

#include <QString>

#include <utility>

// A session over our FTP engine, for FTP and FTP over TLS. It sends names relative to the
// folder it is in: a call about a path in that folder sends the name alone, and a listing of
// it needs no CWD, so the commands a server sees are those the program always sent, and a
// server whose absolute paths don't work (VMS, MVS) is served as before.
class FtpServerSession final : public ServerSession
{
public:
    // Over an open connection handle; `owned`: closed with the session, with `internet` (the
    // service handle it was opened on, may be null).
    FtpServerSession(HINTERNET connection, HINTERNET internet, bool owned);
    ~FtpServerSession() override;
    FtpServerSession(const FtpServerSession&) = delete;
    FtpServerSession& operator=(const FtpServerSession&) = delete;

    HINTERNET connectionHandle() const { return m_connection; }
    // Closes the connection, then the service handle, whether owned or not (a Disconnect ends
    // the connection it was given): the result of each close. Every later call fails.
    std::pair<RemoteResult, RemoteResult> closeHandles();

    SessionTraits traits() const override;
    RemoteResult currentFolder(QByteArray& path) override;
    QByteArray knownFolder() const override { return m_known; }
    RemoteResult changeFolder(const QByteArray& path) override;
    RemoteResult list(const QByteArray& folder, RemoteListing& listing,
                      ListPurpose purpose = ListPurpose::Show,
                      const std::function<void(RemoteEntry&&)>& each = {}) override;
    RemoteResult stat(const QByteArray& path, RemoteEntry& entry) override;
    RemoteResult statTime(const QByteArray& path, RemoteEntry& entry) override;
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
    void cancel() override;

    // The result of the engine call that just failed on this connection (GetLastError, and
    // the connection's own last reply where the failure was a reply).
    RemoteResult failure() const;

private:
    // What a command about `path` sends: the name alone when `path` is in the known folder.
    QByteArray sent(const QByteArray& path) const;
    RemoteResult done(BOOL succeeded) const { return succeeded ? RemoteResult{} : failure(); }

    HINTERNET m_connection;
    HINTERNET m_internet;
    bool m_owned;
    QByteArray m_known; // the folder the server is in as far as we know; empty: unknown
    // The last call was a change of folder, which the next PWD confirms or contradicts.
    bool m_justChanged = false;
    // After "CWD name" the server named another folder than the one meant (a link it followed,
    // or a server that went elsewhere), or would not say, or it refused "CWD ..": ".." or a
    // name from there may lead anywhere, so the next change of folder sends its whole path.
    bool m_wholePathNext = false;
};

// The engine's connection handle under `session`; null for a session of another protocol.
HINTERNET FtpConnectionHandle(ServerSession& session);

// An entry of the engine's listing.
RemoteEntry FtpListedEntry(const WIN32_FIND_DATAA& data);

// The result of a failed engine call with `code`, with `reply` when it was the server's answer.
RemoteResult FtpResult(DWORD code, int replyCode, const QString& reply);

struct SiteProfile;

// What opening a session to a site needs.
struct SessionLogon
{
    QString host;     // as the profile has it
    quint16 port = 0; // 0: the protocol's own
    QByteArray user;
    QByteArray password;
    DWORD connectFlags = 0; // the encryption the site asks for (FtpConnectFlags)
    // The one certificate accepted although no authority vouches for it ("AB:CD:..."), which
    // the user chose to trust; empty for none.
    QString acceptedCertificate;
};

// The engine's connect flags for a profile's "Encryption" value. No value (an older profile)
// and "none" are plain FTP; a value this version does not know asks for the most, TLS
// required, so it never means less protection than the user chose. "If available" goes on in
// plain FTP unasked only with `plainFtpAllowed`, the site's "AllowPlainFtp".
DWORD FtpConnectFlags(const QString& encryption, bool plainFtpAllowed);
// The log-on of a site: its host, user, password and encryption, on `port`.
SessionLogon LogonFor(const SiteProfile& site, quint16 port);
// Connects and logs on; null with `result` saying why when that failed.
std::unique_ptr<FtpServerSession> OpenServerSession(const SessionLogon& logon,
                                                    RemoteResult& result);
