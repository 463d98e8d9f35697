#include "StockServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {
constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 3000;
constexpr quint16 kPassivePorts = 12;
// pure-ftpd logs nobody on as root (and below its lowest user id), so it serves as "nobody".
constexpr uid_t kNobody = 65534;
// "secret" in crypt(3)'s SHA-512 form, as both servers' user files want it.
constexpr char kSecretHash[] = "$6$zulftptests$raxmZSvPIYhtei9y6AjOiYyetwH26HExCh7HH/"
                               "Zz34yjS9vRQQ0k0VLmdabNfKRWL4jyiG7oeAoCwWIyLXckg/";

QString binary(const char* relative)
{
    return StockServer::installFolder() + QStringLiteral("/root/") + QLatin1String(relative);
}

bool portIsFree(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, port);
}

// A free port for the control connection, chosen by the system.
quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// The first of kPassivePorts free ports in a row, below the system's range for outgoing
// connections so that no client socket of a parallel test takes one meanwhile.
quint16 freePassiveRange()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const auto first = static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32000));
        bool free = true;
        for (quint16 port = first; free && port < first + kPassivePorts; ++port)
            free = portIsFree(port);
        if (free)
            return first;
    }
    return 0;
}

bool writeText(const QString& path, const QString& text, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) == text.toUtf8().size() && file.setPermissions(permissions);
}
} // namespace

StockServer::~StockServer()
{
    stop();
}

QString StockServer::installFolder()
{
    const QString configured = qEnvironmentVariable("ZULFTP_SERVERS_DIR");
    if (!configured.isEmpty())
        return configured;
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty())
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/zulftp/ftp-servers");
}

QString StockServer::unavailableReason(Kind kind)
{
    const char* program = nullptr;
    switch (kind) {
    case Kind::Pyftpdlib:
        return {};
    case Kind::Vsftpd:
        program = "usr/sbin/vsftpd";
        break;
    case Kind::Proftpd:
        program = "usr/sbin/proftpd";
        break;
    case Kind::PureFtpd:
        program = "usr/sbin/pure-ftpd";
        break;
    }
    if (!QFileInfo(binary(program)).isExecutable())
        return QStringLiteral("%1 is not there: `scripts/install-deps.sh test` unpacks it")
            .arg(binary(program));
    // They change to their users' folders and user ids, which only root may.
    if (::geteuid() != 0)
        return QStringLiteral("%1 serves its users only when started as root").arg(program);
    return {};
}

bool StockServer::start(Kind kind, const QString& rootDir, const QString& certificatePem,
                        bool rename)
{
    if (!rename && kind != Kind::Proftpd) {
        m_error = QStringLiteral("only proftpd is set up to refuse renaming");
        return false;
    }
    stop();
    m_kind = kind;
    m_root = QDir(rootDir).canonicalPath();
    m_error.clear();
    if (kind == Kind::Pyftpdlib) {
        FtpServerFixture::Options options;
        options.tlsCertificate = certificatePem;
        if (!m_python.start(m_root, options)) {
            m_error = m_python.errorOutput();
            return false;
        }
        m_port = m_python.port();
        return true;
    }
    m_config = std::make_unique<QTemporaryDir>();
    m_port = freePort();
    m_passiveFirst = freePassiveRange();
    if (!m_config->isValid() || m_port == 0 || m_passiveFirst == 0) {
        m_error = QStringLiteral("no configuration folder or no free ports");
        return false;
    }
    QString file;
    switch (kind) {
    case Kind::Vsftpd:
        return writeVsftpdConfig(certificatePem, file) &&
               startProcess(binary("usr/sbin/vsftpd"), {file});
    case Kind::Proftpd:
        return writeProftpdConfig(certificatePem, rename, file) &&
               startProcess(binary("usr/sbin/proftpd"), {"-n", "-q", "-c", file});
    case Kind::PureFtpd: {
        if (!writePureFtpdUsers(file) || !handOver(m_root))
            return false;
        QStringList arguments{
            "-S",
            QStringLiteral("127.0.0.1,%1").arg(m_port),
            "-l",
            "puredb:" + file,
            "-p",
            QStringLiteral("%1:%2").arg(m_passiveFirst).arg(m_passiveFirst + kPassivePorts - 1),
            "-E",
            "-A",
            "-H",
            "-4",
            "-g",
            m_config->filePath("pid")};
        if (certificatePem.isEmpty())
            arguments << "-Y"
                      << "0";
        else
            arguments << "-Y"
                      << "1"
                      << "-2" << certificatePem;
        return startProcess(binary("usr/sbin/pure-ftpd"), arguments);
    }
    case Kind::Pyftpdlib:
        break;
    }
    return false;
}

bool StockServer::writeVsftpdConfig(const QString& certificatePem, QString& file)
{
    // Anonymous with write access under the launching user: vsftpd's own users need PAM and
    // system accounts that a test must not add. Without chroot, its paths are the real ones.
    QString text =
        QStringLiteral(
            "listen=YES\nlisten_address=127.0.0.1\nlisten_port=%1\n"
            "background=NO\nrun_as_launching_user=YES\n"
            "anonymous_enable=YES\nftp_username=nobody\nlocal_enable=NO\nwrite_enable=YES\n"
            "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
            "anon_other_write_enable=YES\nanon_world_readable_only=NO\n"
            "no_anon_password=YES\nanon_umask=022\nanon_root=%2\n"
            "secure_chroot_dir=%3\npasv_min_port=%4\npasv_max_port=%5\n"
            "seccomp_sandbox=NO\nxferlog_enable=NO\nsyslog_enable=NO\n"
            "vsftpd_log_file=%6\ntcp_wrappers=NO\n")
            .arg(m_port)
            .arg(m_root, m_config->path())
            .arg(m_passiveFirst)
            .arg(m_passiveFirst + kPassivePorts - 1)
            .arg(m_config->filePath("log"));
    if (!certificatePem.isEmpty())
        text += QStringLiteral("ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=NO\n"
                               "force_anon_data_ssl=NO\nssl_sslv2=NO\nssl_sslv3=NO\nssl_tlsv1=NO\n"
                               "rsa_cert_file=%1\nrsa_private_key_file=%1\n")
                    .arg(certificatePem);
    file = m_config->filePath("vsftpd.conf");
    return writeText(file, text, QFile::ReadOwner | QFile::WriteOwner);
}

bool StockServer::writeProftpdConfig(const QString& certificatePem, bool rename, QString& file)
{
    // A user of its own file with the launching user's ids, locked into the served folder.
    const QString users = m_config->filePath("passwd");
    const QString groups = m_config->filePath("group");
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    if (!writeText(users, QStringLiteral("user:%1:0:0::%2:/bin/sh\n").arg(kSecretHash, m_root),
                   ownerOnly) ||
        !writeText(groups, QStringLiteral("root:x:0:\n"), ownerOnly))
        return false;
    QString text =
        QStringLiteral("ServerName \"zulftp test\"\nServerType standalone\nPort %1\n"
                       "DefaultAddress 127.0.0.1\nSocketBindTight on\nUseIPv6 off\nUser root\n"
                       "Group root\nScoreboardFile %2/scoreboard\nPidFile %2/pid\n"
                       "DelayTable none\nWtmpLog off\nTransferLog none\nSystemLog %2/log\n"
                       "AuthOrder mod_auth_file.c\nAuthUserFile %3\nAuthGroupFile %4\n"
                       "RequireValidShell off\nRootLogin on\nDefaultRoot ~\nUmask 022\n"
                       "AllowOverwrite on\nUseReverseDNS off\nPassivePorts %5 %6\n"
                       "ExtendedLog %2/commands.log ALL\n")
            .arg(m_port)
            .arg(m_config->path(), users, groups)
            .arg(m_passiveFirst)
            .arg(m_passiveFirst + kPassivePorts - 1);
    if (!rename)
        text += QStringLiteral("<Limit RNFR RNTO>\nDenyAll\n</Limit>\n");
    if (!certificatePem.isEmpty())
        text += QStringLiteral("ModulePath %1\nLoadModule mod_tls.c\nTLSEngine on\n"
                               "TLSRequired off\nTLSProtocol TLSv1.2 TLSv1.3\n"
                               "TLSECCertificateFile %2\nTLSECCertificateKeyFile %2\n"
                               "TLSVerifyClient off\nTLSLog %3/tls.log\n")
                    .arg(binary("usr/lib/proftpd"), certificatePem, m_config->path());
    if (!certificatePem.isEmpty() && m_implicitTls)
        text += QStringLiteral("TLSOptions UseImplicitSSL\n");
    file = m_config->filePath("proftpd.conf");
    return writeText(file, text, ownerOnly);
}

bool StockServer::writePureFtpdUsers(QString& database)
{
    const QString users = m_config->filePath("pureftpd.passwd");
    database = m_config->filePath("pureftpd.pdb");
    // user:hash:uid:gid:gecos:home (the "/./" locks the user inside it):: and the limits.
    const QString line = QStringLiteral("user:%1:%2:%2::%3/./::::::::::::\n")
                             .arg(QLatin1String(kSecretHash))
                             .arg(kNobody)
                             .arg(m_root);
    if (!writeText(users, line, QFile::ReadOwner | QFile::WriteOwner))
        return false;
    QProcess maker;
    maker.start(binary("usr/bin/pure-pw"), {"mkdb", database, "-f", users});
    if (!maker.waitForFinished(kStartTimeoutMs) || maker.exitStatus() != QProcess::NormalExit ||
        maker.exitCode() != 0) {
        m_error = QStringLiteral("pure-pw mkdb failed: ") +
                  QString::fromLocal8Bit(maker.readAllStandardError());
        return false;
    }
    return true;
}

bool StockServer::startProcess(const QString& program, const QStringList& arguments)
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setWorkingDirectory(m_config->path());
    // The server goes when the test process goes, however it ends.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->start(program, arguments);
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        m_error = program + QStringLiteral(" did not start: ") + m_process->errorString();
        return false;
    }
    return waitUntilListening();
}

bool StockServer::waitUntilListening()
{
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process->state() != QProcess::Running) {
            m_error = QStringLiteral("the server ended: ") + errorText();
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        m_process->waitForFinished(50);
    }
    m_error = QStringLiteral("the server did not listen in time: ") + errorText();
    return false;
}

void StockServer::stop()
{
    m_python.stop();
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(kStopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(kStopTimeoutMs);
        }
    }
    m_process.reset();
    m_config.reset();
    m_port = 0;
}

QString StockServer::user() const
{
    return m_kind == Kind::Vsftpd ? QStringLiteral("anonymous") : QStringLiteral("user");
}

QString StockServer::password() const
{
    return m_kind == Kind::Vsftpd ? QStringLiteral("zulftp@example.org") : QStringLiteral("secret");
}

QString StockServer::serverPath(const QString& localPath) const
{
    const QString canonical = QFileInfo(localPath).canonicalFilePath();
    if (m_kind == Kind::Vsftpd)
        return canonical;
    return QLatin1Char('/') + QDir(m_root).relativeFilePath(canonical);
}

bool StockServer::handOver(const QString& localPath) const
{
    if (m_kind != Kind::PureFtpd)
        return true;
    const QByteArray top = QFile::encodeName(localPath);
    bool ok = ::lchown(top.constData(), kNobody, kNobody) == 0;
    QDirIterator it(localPath,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::lchown(QFile::encodeName(it.next()).constData(), kNobody, kNobody) == 0 && ok;
    return ok;
}

QString StockServer::errorText()
{
    QString text = m_error;
    if (m_process)
        text += QString::fromLocal8Bit(m_process->readAll());
    if (m_config) {
        for (const char* log : {"log", "tls.log", "commands.log"}) {
            QFile file(m_config->filePath(QLatin1String(log)));
            if (file.open(QIODevice::ReadOnly))
                text += QLatin1Char('\n') + QString::fromLocal8Bit(file.readAll().right(2000));
        }
    }
    if (m_kind == Kind::Pyftpdlib)
        text += m_python.errorOutput();
    return text;
}
