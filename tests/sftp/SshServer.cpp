#include "SshServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTcpServer>

#include <csignal>
#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {
constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 3000;
// As root, sshd would need its own privilege-separation account, which a test must not add
// to the machine: it runs as "nobody" instead and serves that account.
constexpr uid_t kNobody = 65534;

QString sshdPath()
{
    QString folder = qEnvironmentVariable("ZULFTP_SERVERS_DIR");
    if (folder.isEmpty()) {
        QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
        if (cache.isEmpty())
            cache = QDir::homePath() + QStringLiteral("/.cache");
        folder = cache + QStringLiteral("/zulftp/ftp-servers");
    }
    return folder + QStringLiteral("/root/usr/sbin/sshd");
}

bool runKeygen(const QString& file, const QString& passphrase = {})
{
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"),
                 {"-q", "-t", "ed25519", "-N", passphrase, "-C", "zulftp-test", "-f", file});
    return keygen.waitForFinished(kStartTimeoutMs) && keygen.exitCode() == 0;
}

// "type base64" of an OpenSSH public key file, as a known_hosts line wants it.
QByteArray keyLine(const QString& path)
{
    QFile file(path);
    const QList<QByteArray> parts =
        file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QList<QByteArray>();
    return parts.size() >= 2 ? parts[0] + ' ' + parts[1] : QByteArray();
}

void giveToNobody(const QString& path)
{
    if (::geteuid() != 0)
        return;
    [[maybe_unused]] int ignored = ::lchown(QFile::encodeName(path).constData(), kNobody, kNobody);
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ignored = ::lchown(QFile::encodeName(it.next()).constData(), kNobody, kNobody);
}
} // namespace

SshServer::SshServer() = default;

SshServer::~SshServer()
{
    stop();
}

QString SshServer::unavailableReason(Kind kind)
{
    if (kind == Kind::OpenSsh && !QFileInfo(sshdPath()).isExecutable())
        return sshdPath() + QStringLiteral(" is not there: `scripts/install-deps.sh test` "
                                           "unpacks it");
    if (kind == Kind::Misbehaving &&
        !QFileInfo::exists(QStringLiteral("/usr/lib/python3/dist-packages/paramiko/__init__.py")))
        return QStringLiteral("python3-paramiko is not installed: `scripts/install-deps.sh "
                              "test` installs it");
    return {};
}

QString SshServer::user() const
{
    if (m_kind == Kind::Misbehaving)
        return QStringLiteral("tester");
    return ::geteuid() == 0 ? QStringLiteral("nobody") : qEnvironmentVariable("USER");
}

QByteArray SshServer::hostKeyLine() const
{
    return keyLine(m_keys.filePath(QStringLiteral("host.pub")));
}

QByteArray SshServer::otherKeyLine() const
{
    return keyLine(m_keys.filePath(QStringLiteral("other.pub")));
}

QString SshServer::serverPath(const QString& localPath) const
{
    const QString canonical = QFileInfo(localPath).canonicalFilePath();
    if (m_kind == Kind::OpenSsh)
        return canonical;
    return QStringLiteral("/") + QDir(m_root).relativeFilePath(canonical);
}

bool SshServer::makeKeys()
{
    if (QFileInfo::exists(m_keys.filePath(QStringLiteral("host"))))
        return true;
    return m_keys.isValid() && runKeygen(m_keys.filePath(QStringLiteral("host"))) &&
           runKeygen(m_keys.filePath(QStringLiteral("other"))) &&
           runKeygen(m_keys.filePath(QStringLiteral("client"))) &&
           runKeygen(m_keys.filePath(QStringLiteral("locked")), QStringLiteral("secret"));
}

bool SshServer::start(Kind kind, const QString& rootDir, const QByteArray& script)
{
    stop();
    m_kind = kind;
    m_root = QDir(rootDir).canonicalPath();
    m_error.clear();
    if (!makeKeys()) {
        m_error = QStringLiteral("ssh-keygen could not make the test keys");
        return false;
    }
    if (kind == Kind::OpenSsh)
        return startSshd();
    QStringList arguments{"--root", m_root, "--hostkey", m_keys.filePath(QStringLiteral("host"))};
    if (!script.isEmpty()) {
        QFile file(m_keys.filePath(QStringLiteral("script.json")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(script) < 0)
            return false;
        arguments << "--script" << file.fileName();
    }
    m_port = m_python.start(QStringLiteral(ZUL_TEST_SUPPORT_DIR "/sftpserver.py"), arguments);
    if (m_port == 0)
        m_error = QStringLiteral("sftpserver.py did not start");
    return m_port != 0;
}

bool SshServer::startSshd()
{
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return false;
        m_port = probe.serverPort();
    }
    const QString folder = m_keys.path();
    {
        QFile keys(m_keys.filePath(QStringLiteral("authorized_keys")));
        QFile client(m_keys.filePath(QStringLiteral("client.pub")));
        QFile locked(m_keys.filePath(QStringLiteral("locked.pub")));
        if (!keys.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            !client.open(QIODevice::ReadOnly) || !locked.open(QIODevice::ReadOnly) ||
            keys.write(client.readAll() + locked.readAll()) <= 0)
            return false;
    }
    const QString config =
        QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host\nPidFile none\n"
                       "AuthorizedKeysFile %2/authorized_keys\nStrictModes no\n"
                       // Only PAM lets an account without a password (nobody) log on by key.
                       "UsePAM yes\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                       "PermitRootLogin prohibit-password\n"
                       "Subsystem sftp internal-sftp -d %3\nLogLevel INFO\n")
            .arg(m_port)
            .arg(folder, m_root);
    QFile file(m_keys.filePath(QStringLiteral("sshd_config")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config.toUtf8()) < 0)
        return false;
    file.close();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                      QFile::ExeGroup | QFile::ExeOther);
    giveToNobody(m_keys.filePath(QStringLiteral("host")));
    giveToNobody(m_keys.filePath(QStringLiteral("authorized_keys")));
    giveToNobody(m_root);
    m_sshd.setProcessChannelMode(QProcess::MergedChannels);
    m_sshd.setChildProcessModifier([] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(127);
    });
    // The unpacked folder may be under root's home, which the unprivileged account cannot
    // enter: it runs a copy in the test's folder.
    const QString program = m_keys.filePath(QStringLiteral("sshd"));
    if (!QFileInfo::exists(program) && !QFile::copy(sshdPath(), program)) {
        m_error = QStringLiteral("sshd could not be copied to ") + program;
        return false;
    }
    m_sshd.start(program, {"-D", "-e", "-f", file.fileName()});
    QDeadlineTimer deadline(kStartTimeoutMs);
    QByteArray output;
    while (!output.contains("Server listening on")) {
        if (m_sshd.state() == QProcess::NotRunning || deadline.hasExpired() ||
            !m_sshd.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            m_error = QStringLiteral("sshd did not start: ") + QString::fromLocal8Bit(output) +
                      QString::fromLocal8Bit(m_sshd.readAll());
            stop();
            return false;
        }
        output += m_sshd.readAll();
    }
    return true;
}

void SshServer::stop()
{
    m_python.stop();
    if (m_sshd.state() != QProcess::NotRunning) {
        m_sshd.terminate();
        if (!m_sshd.waitForFinished(kStopTimeoutMs)) {
            m_sshd.kill();
            m_sshd.waitForFinished(kStopTimeoutMs);
        }
    }
}

QString SshServer::errorText()
{
    QString text = m_error + m_python.errorOutput();
    if (m_sshd.isOpen())
        text += QString::fromLocal8Bit(m_sshd.readAll());
    return text;
}

void SshServer::handOver(const QString& localPath) const
{
    if (m_kind == Kind::OpenSsh)
        giveToNobody(localPath);
}
