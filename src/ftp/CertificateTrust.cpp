#include "ftp/CertificateTrust.h"

#include "datafolder.h"

#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One line a server: "<host> <port> <fingerprint>". Host names and fingerprints hold no
// blanks; anything else on a line makes it no entry.
struct Entry
{
    QString host;
    quint16 port = 0;
    QString fingerprint;
};

const QString kHeader = QStringLiteral("# Server certificates trusted always: host port SHA-256");

// The file's contents when it is safe to trust, else nothing, with the reason in `problem`.
// Checked on the descriptor that is read, so the file cannot be swapped between the two.
std::optional<std::string> readSafely(const QString& path, QString& problem)
{
    problem.clear();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT)
            problem = QStringLiteral("it cannot be read (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    std::string contents;
    struct stat status = {};
    if (::fstat(fd, &status) != 0)
        problem = QStringLiteral("its owner and permissions cannot be read");
    else if (!S_ISREG(status.st_mode))
        problem = QStringLiteral("it is not a regular file");
    else if (status.st_uid != ::geteuid())
        problem = QStringLiteral("it belongs to another user (user ID %1)").arg(status.st_uid);
    else if ((status.st_mode & 07777) != 0600)
        problem =
            QStringLiteral("its permissions are %1, not 0600 (readable and writable by you "
                           "only)")
                .arg(QStringLiteral("%1").arg(status.st_mode & 07777, 4, 8, QLatin1Char('0')));
    char buffer[8192];
    while (problem.isEmpty()) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            problem = QStringLiteral("it cannot be read (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (n <= 0)
            break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!problem.isEmpty())
        return std::nullopt;
    return contents;
}

QList<Entry> readEntries(const QString& path)
{
    QString problem;
    const std::optional<std::string> contents = readSafely(path, problem);
    if (!contents)
        return {};
    QList<Entry> entries;
    for (const QString& line : QString::fromStdString(*contents).split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() != 3 || line.startsWith(QLatin1Char('#')))
            continue;
        bool numeric = false;
        const uint port = fields[1].toUInt(&numeric);
        if (!numeric || port == 0 || port > 65535)
            continue;
        entries.append({fields[0], static_cast<quint16>(port), fields[2]});
    }
    return entries;
}

bool sameServer(const Entry& entry, const QString& host, quint16 port)
{
    // Host names are not case-sensitive (RFC 4343).
    return entry.port == port && entry.host.compare(host, Qt::CaseInsensitive) == 0;
}

} // namespace

CertificateTrust::CertificateTrust(QString filePath) : m_filePath(std::move(filePath)) {}

QString CertificateTrust::defaultFilePath()
{
    return QString::fromStdString(GetDataFolder()) + QStringLiteral("zulftp-certificates");
}

QString CertificateTrust::fingerprint(const QString& host, quint16 port) const
{
    for (const Entry& entry : readEntries(m_filePath))
        if (sameServer(entry, host, port))
            return entry.fingerprint;
    return {};
}

bool CertificateTrust::remember(const QString& host, quint16 port, const QString& fingerprint) const
{
    // A name with a blank or line break could not be read back as one entry.
    if (host.isEmpty() || fingerprint.isEmpty() ||
        (host + fingerprint).contains(QRegularExpression(QStringLiteral("\\s"))))
        return false;
    const FolderWriteLock lock(m_filePath.toStdString());
    if (!lock.locked() || !unsafeReason().isEmpty())
        return false;
    QString contents = kHeader + QLatin1Char('\n');
    for (const Entry& entry : readEntries(m_filePath))
        if (!sameServer(entry, host, port))
            contents +=
                QStringLiteral("%1 %2 %3\n").arg(entry.host).arg(entry.port).arg(entry.fingerprint);
    contents += QStringLiteral("%1 %2 %3\n").arg(host).arg(port).arg(fingerprint);
    const QByteArray bytes = contents.toUtf8();
    if (!ReplaceFileContents(
            m_filePath.toStdString(),
            std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))))
        return false;
    // Whoever may change this file may make us trust any server: it stays the owner's alone.
    return QFile::setPermissions(m_filePath, QFile::ReadOwner | QFile::WriteOwner);
}

QString CertificateTrust::unsafeReason() const
{
    QString problem;
    readSafely(m_filePath, problem);
    return problem;
}
