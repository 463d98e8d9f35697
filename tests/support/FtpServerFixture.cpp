#include "FtpServerFixture.h"

#include <QDeadlineTimer>
#include <QtGlobal>

namespace {
constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 3000;

QString pythonPath()
{
    const QString configured = qEnvironmentVariable("ZULFTP_PYTHON");
    return configured.isEmpty() ? QStringLiteral("/usr/bin/python3") : configured;
}

QStringList serverArguments(const QString& rootDir, const FtpServerFixture::Options& options)
{
    QStringList args{QStringLiteral(ZUL_TEST_SUPPORT_DIR "/ftpserver.py"),
                     "--root",
                     rootDir,
                     "--user",
                     options.user,
                     "--password",
                     options.password};
    if (options.anonymous)
        args << "--anonymous";
    if (!options.mlsd)
        args << "--no-mlsd";
    if (options.passiveOnly)
        args << "--passive-only";
    if (options.activeOnly)
        args << "--active-only";
    if (options.readOnly)
        args << "--read-only";
    if (options.ipv6)
        args << "--ipv6";
    return args;
}
} // namespace

FtpServerFixture::~FtpServerFixture()
{
    stop();
}

bool FtpServerFixture::start(const QString& rootDir, const Options& options)
{
    stop();
    m_ipv6 = options.ipv6;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(pythonPath(), serverArguments(rootDir, options));
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        stop();
        return false;
    }
    // The script prints its port once the listening socket is open.
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_process->canReadLine()) {
        if (deadline.hasExpired() ||
            !m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            qWarning("ftp server did not start: %s", qPrintable(errorOutput()));
            stop();
            return false;
        }
    }
    bool ok = false;
    const uint port = QString::fromLatin1(m_process->readLine()).trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        stop();
        return false;
    }
    m_port = static_cast<quint16>(port);
    return true;
}

void FtpServerFixture::stop()
{
    m_port = 0;
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->closeWriteChannel(); // the server exits when its stdin closes
        if (!m_process->waitForFinished(kStopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(kStopTimeoutMs);
        }
    }
    m_process.reset();
}

bool FtpServerFixture::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString FtpServerFixture::errorOutput()
{
    return m_process ? QString::fromLocal8Bit(m_process->readAllStandardError()) : QString();
}
