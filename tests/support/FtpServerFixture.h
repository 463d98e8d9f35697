#pragma once
#include "ServerProcess.h"

#include <QString>
#include <QStringList>

// A real FTP server (the Python one beside this file) on loopback and a free port, serving
// one folder, for the integration tests. The server ends with this object, and by itself when
// the test process dies (it watches its standard input).
class FtpServerFixture
{
public:
    struct Options
    {
        QString user = "user";
        QString password = "secret";
        bool anonymous = false;   // also accept "anonymous" with any password
        bool mlsd = true;         // false: MLSD/MLST are unknown commands and absent from FEAT
        bool passiveOnly = false; // refuse PORT and EPRT
        bool activeOnly = false;  // refuse PASV and EPSV
        bool readOnly = false;    // list and download only
        bool noRename = false;    // every right but renaming (RNFR/RNTO refused)
        bool ipv6 = false;        // listen on ::1 instead of 127.0.0.1
        QString tlsCertificate{}; // offer AUTH TLS with this server.pem (see makeCertificate)
        bool tlsRequired = false; // refuse logging on and data connections without TLS
    };

    // Makes <dir>/ca.pem and <dir>/server.pem for a server known by `names`, signed by an
    // authority of its own (ca.pem) or self-signed (ca.pem is then the certificate itself).
    static bool makeCertificate(const QString& dir, const QStringList& names, bool selfSigned);

    FtpServerFixture() = default;
    FtpServerFixture(const FtpServerFixture&) = delete;
    FtpServerFixture& operator=(const FtpServerFixture&) = delete;
    ~FtpServerFixture();

    // Starts the server and waits (up to 15 s) until it accepts connections.
    bool start(const QString& rootDir, const Options& options);
    bool start(const QString& rootDir) { return start(rootDir, Options()); }
    void stop();
    bool isRunning() const;
    quint16 port() const { return m_port; }
    QString host() const { return m_ipv6 ? "::1" : "127.0.0.1"; }
    // What the server wrote to stderr so far, for failure messages.
    QString errorOutput();

private:
    ServerProcess m_server;
    quint16 m_port = 0;
    bool m_ipv6 = false;
};
