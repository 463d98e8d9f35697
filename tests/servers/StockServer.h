#pragma once
#include "FtpServerFixture.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// One of the FTP servers people run, started on loopback from the binaries that
// `scripts/install-deps.sh test` unpacked, with a configuration of our own in a temporary
// folder: its own port and passive ports, one folder served with write access, a user of its
// own, and explicit TLS (AUTH TLS) when a certificate is given. The server runs in the
// foreground and ends with this object. The Python server of FtpServerFixture stands in the
// same table as "pyftpdlib".
class StockServer
{
public:
    enum class Kind { Pyftpdlib, Vsftpd, Proftpd, PureFtpd };

    StockServer() = default;
    StockServer(const StockServer&) = delete;
    StockServer& operator=(const StockServer&) = delete;
    ~StockServer();

    // Why `kind` cannot run on this machine, or nothing when it can.
    static QString unavailableReason(Kind kind);
    // The folder the unpacked servers live in.
    static QString installFolder();

    // Serves `rootDir` (TLS with `certificatePem`, holding certificate and key, when given) and
    // waits until the server accepts connections; false with errorText() otherwise.
    // `rename` false refuses RNFR and RNTO (proftpd only).
    bool start(Kind kind, const QString& rootDir, const QString& certificatePem,
               bool rename = true);
    void stop();
    // proftpd only: TLS from the first byte (implicit TLS, as on port 990) in place of AUTH TLS.
    // Set before start().
    void setImplicitTls(bool implicit) { m_implicitTls = implicit; }
    quint16 port() const { return m_port; }
    QString user() const;
    QString password() const;
    // True where the folders' modes bind the server: it writes as an account of its own
    // (pure-ftpd) or gives up root's right to override them (proftpd drops that capability).
    bool honoursFileModes() const { return m_kind == Kind::Proftpd || m_kind == Kind::PureFtpd; }
    // The server's path of the local folder `localPath` inside the served folder.
    QString serverPath(const QString& localPath) const;
    // Gives everything under `localPath` to the account the server writes with, after the test
    // made it: a server that will not serve as root gets its own copy of the tree's ownership.
    bool handOver(const QString& localPath) const;
    QString errorText();

private:
    bool startProcess(const QString& program, const QStringList& arguments);
    bool writeVsftpdConfig(const QString& certificatePem, QString& file);
    bool writeProftpdConfig(const QString& certificatePem, bool rename, QString& file);
    bool writePureFtpdUsers(QString& database);
    bool waitUntilListening();

    Kind m_kind = Kind::Pyftpdlib;
    QString m_root;
    quint16 m_port = 0;
    quint16 m_passiveFirst = 0;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QProcess> m_process;
    FtpServerFixture m_python;
    QString m_error;
    bool m_implicitTls = false;
};
