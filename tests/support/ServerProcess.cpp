#include "ServerProcess.h"

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
} // namespace

ServerProcess::~ServerProcess()
{
    stop();
}

quint16 ServerProcess::start(const QString& script, const QStringList& arguments)
{
    stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(pythonPath(), QStringList{script} + arguments);
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        stop();
        return 0;
    }
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_process->canReadLine()) {
        if (deadline.hasExpired() ||
            !m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            qWarning("%s did not start: %s", qPrintable(script), qPrintable(errorOutput()));
            stop();
            return 0;
        }
    }
    bool ok = false;
    const uint port = QString::fromLatin1(m_process->readLine()).trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        stop();
        return 0;
    }
    return static_cast<quint16>(port);
}

void ServerProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(kStopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(kStopTimeoutMs);
        }
    }
    m_process.reset();
}

bool ServerProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString ServerProcess::errorOutput()
{
    return m_process ? QString::fromLocal8Bit(m_process->readAllStandardError()) : QString();
}
