#pragma once
#include "ServerProcess.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// An SSH server on loopback for the file-transfer tests: OpenSSH's sshd, unpacked by
// `scripts/install-deps.sh test` and run by absolute path with a configuration, host key and
// authorized_keys of its own (log-on by the test's key), or the misbehaving Python server
// sftpserver.py with a JSON script (log-on by password or keyboard-interactive). Both serve
// one folder and end with this object.
class SshServer
{
public:
    enum class Kind { OpenSsh, Misbehaving };

    SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;
    ~SshServer();

    static QString unavailableReason(Kind kind);

    bool start(Kind kind, const QString& rootDir, const QByteArray& script = {});
    void stop();
    quint16 port() const { return m_port; }
    QString user() const;
    QString clientKey() const { return m_keys.filePath(QStringLiteral("client")); }
    // Another key sshd takes, this one locked with the passphrase "secret".
    QString lockedClientKey() const { return m_keys.filePath(QStringLiteral("locked")); }
    QString hostPublicKeyFile() const { return m_keys.filePath(QStringLiteral("host.pub")); }
    // The server's public key, and another of the same type: a known_hosts line with the
    // latter is a host whose key changed.
    QByteArray hostKeyLine() const;
    QByteArray otherKeyLine() const;
    // The server's path of `localPath` inside the served folder.
    QString serverPath(const QString& localPath) const;
    QString errorText();
    // Gives `localPath` and everything under it to the account sshd serves, after the test
    // made it as root.
    void handOver(const QString& localPath) const;

private:
    bool makeKeys();
    bool startSshd();

    Kind m_kind = Kind::OpenSsh;
    QString m_root;
    quint16 m_port = 0;
    QTemporaryDir m_keys;
    QProcess m_sshd;
    ServerProcess m_python;
    QString m_error;
};

// Bytes every SFTP test moves: a repeatable pattern of `size` bytes, and files of them.
inline QByteArray pattern(qint64 size)
{
    std::vector<quint32> words(std::size_t(size / 4 + 1));
    QRandomGenerator(static_cast<quint32>(size)).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.data()), size);
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
