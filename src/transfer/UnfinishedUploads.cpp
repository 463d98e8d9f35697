#include "transfer/UnfinishedUploads.h"

#include "datafolder.h"
#include "transfer/ResumeData.h"

#include <QFile>

namespace {

constexpr char kHeader[] =
    "# zulftp-uploads 2: server folder target temporary size mtime-ns path copy-size copy-time";
// Lines of the first version end after the path; their copy is of unknown state.
constexpr int kFirstFieldCount = 7;
constexpr int kFieldCount = 9;

// Every field percent-encoded, so any byte of a name (blank, line break) reads back the same.
QByteArray encoded(const QByteArray& field)
{
    return field.toPercentEncoding();
}

// One line as write() makes it; anything else is no record.
std::optional<UnfinishedUpload> parseLine(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() != kFieldCount && fields.size() != kFirstFieldCount)
        return std::nullopt;
    UnfinishedUpload upload;
    upload.server = QByteArray::fromPercentEncoding(fields[0]);
    upload.remoteFolder = QByteArray::fromPercentEncoding(fields[1]);
    upload.targetName = QByteArray::fromPercentEncoding(fields[2]);
    upload.temporaryName = QByteArray::fromPercentEncoding(fields[3]);
    const auto size = ParseDecimal(fields[4]);
    const auto modified = ParseDecimal(fields[5]);
    upload.local.path = QByteArray::fromPercentEncoding(fields[6]);
    if (!size || !modified || upload.server.isEmpty() || upload.targetName.isEmpty() ||
        upload.temporaryName.isEmpty() || upload.local.path.isEmpty() ||
        (upload.server + upload.remoteFolder + upload.targetName + upload.temporaryName)
            .contains('\0'))
        return std::nullopt;
    upload.local.size = *size;
    upload.local.modifiedNs = *modified;
    if (fields.size() == kFieldCount) {
        // An empty size: the copy could not be asked about when the upload stopped.
        if (!fields[7].isEmpty()) {
            const auto copySize = ParseDecimal(fields[7]);
            if (!copySize)
                return std::nullopt;
            upload.copySize = *copySize;
        }
        upload.copyTime = QByteArray::fromPercentEncoding(fields[8]);
    }
    return upload;
}

bool sameTarget(const UnfinishedUpload& upload, const QByteArray& server,
                const QByteArray& remoteFolder, const QByteArray& targetName)
{
    return upload.server == server && upload.remoteFolder == remoteFolder &&
           upload.targetName == targetName;
}

} // namespace

UnfinishedUploads::UnfinishedUploads(QString filePath) : m_filePath(std::move(filePath)) {}

QString UnfinishedUploads::defaultFilePath()
{
    return QString::fromStdString(GetDataFolder()) + QStringLiteral("zulftp-uploads");
}

QList<UnfinishedUpload> UnfinishedUploads::read() const
{
    std::string contents;
    if (!ReadWholeFile(QFile::encodeName(m_filePath).toStdString(), contents))
        return {};
    QList<UnfinishedUpload> uploads;
    for (const QByteArray& line : QByteArray::fromStdString(contents).split('\n')) {
        if (auto upload = parseLine(line))
            uploads.append(std::move(*upload));
    }
    return uploads;
}

bool UnfinishedUploads::write(const QList<UnfinishedUpload>& uploads) const
{
    QByteArray contents = QByteArray(kHeader) + '\n';
    for (const UnfinishedUpload& upload : uploads) {
        contents += encoded(upload.server) + ' ' + encoded(upload.remoteFolder) + ' ' +
                    encoded(upload.targetName) + ' ' + encoded(upload.temporaryName) + ' ' +
                    QByteArray::number(upload.local.size) + ' ' +
                    QByteArray::number(upload.local.modifiedNs) + ' ' + encoded(upload.local.path) +
                    ' ' +
                    (upload.copySize >= 0 ? QByteArray::number(upload.copySize) : QByteArray()) +
                    ' ' + encoded(upload.copyTime) + '\n';
    }
    // Written whole or not at all, readable by its owner only (ReplaceFileContents).
    return ReplaceFileContents(QFile::encodeName(m_filePath).toStdString(),
                               std::string_view(contents.constData(), size_t(contents.size()))) !=
           FALSE;
}

std::optional<UnfinishedUpload> UnfinishedUploads::find(const QByteArray& server,
                                                        const QByteArray& remoteFolder,
                                                        const QByteArray& targetName) const
{
    for (const UnfinishedUpload& upload : read()) {
        if (sameTarget(upload, server, remoteFolder, targetName))
            return upload;
    }
    return std::nullopt;
}

bool UnfinishedUploads::remember(const UnfinishedUpload& upload) const
{
    const FolderWriteLock lock(QFile::encodeName(m_filePath).toStdString());
    if (!lock.locked())
        return false;
    QList<UnfinishedUpload> uploads = read();
    uploads.removeIf([&](const UnfinishedUpload& other) {
        return sameTarget(other, upload.server, upload.remoteFolder, upload.targetName);
    });
    uploads.append(upload);
    if (uploads.size() > kUnfinishedUploadsMax)
        uploads.remove(0, uploads.size() - kUnfinishedUploadsMax);
    return write(uploads);
}

void UnfinishedUploads::forget(const QByteArray& server, const QByteArray& remoteFolder,
                               const QByteArray& targetName) const
{
    const FolderWriteLock lock(QFile::encodeName(m_filePath).toStdString());
    if (!lock.locked())
        return;
    QList<UnfinishedUpload> uploads = read();
    if (uploads.removeIf([&](const UnfinishedUpload& upload) {
            return sameTarget(upload, server, remoteFolder, targetName);
        }) > 0)
        write(uploads);
}
