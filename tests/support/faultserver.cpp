#include "faultserver.h"

#include <QFile>
#include <QJsonDocument>

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
    m_port = m_server.start(
        QStringLiteral(ZUL_TEST_SUPPORT_DIR "/faultserver.py"),
        {"--script", scriptFile.fileName(), "--log", m_dir.filePath("received.log")});
    return m_port != 0;
}

void FaultServer::stop()
{
    m_port = 0;
    m_server.stop();
}

QStringList FaultServer::received() const
{
    QFile log(m_dir.filePath("received.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}
