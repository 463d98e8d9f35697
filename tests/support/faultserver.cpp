#include "faultserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>

namespace {
constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 3000;
} // namespace

FaultServer::~FaultServer()
{
    stop();
}

bool FaultServer::start(const QJsonObject& script)
{
    stop();
    QFile scriptFile(m_dir.filePath("script.json"));
    if (!m_dir.isValid() || !scriptFile.open(QIODevice::WriteOnly))
        return false;
    scriptFile.write(QJsonDocument(script).toJson());
    scriptFile.close();
    QFile::remove(m_dir.filePath("received.log"));
    const QString python = qEnvironmentVariable("ZULFTP_PYTHON", "/usr/bin/python3");
    m_process = std::make_unique<QProcess>();
    m_process->start(python, {QStringLiteral(ZUL_TEST_SUPPORT_DIR "/faultserver.py"), "--script",
                              scriptFile.fileName(), "--log", m_dir.filePath("received.log")});
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_process->canReadLine()) {
        if (deadline.hasExpired() ||
            !m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            qWarning("fault server did not start: %s",
                     m_process->readAllStandardError().constData());
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

void FaultServer::stop()
{
    m_port = 0;
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

QStringList FaultServer::received() const
{
    QFile log(m_dir.filePath("received.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}
