#include "queue/QueueStore.h"

#include "datafolder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr int kVersion = 1;

QString directionName(QueueDirection direction)
{
    return direction == QueueDirection::Download ? QStringLiteral("down") : QStringLiteral("up");
}

QString existingName(ExistingTarget existing)
{
    switch (existing) {
    case ExistingTarget::Overwrite:
        return QStringLiteral("overwrite");
    case ExistingTarget::Skip:
        return QStringLiteral("skip");
    case ExistingTarget::Ask:
        break;
    }
    return QStringLiteral("ask");
}

QJsonObject toJson(const QueueItem& item)
{
    return QJsonObject{
        {"id", QString::number(item.id)},
        {"direction", directionName(item.direction)},
        {"folder", item.folder},
        {"localFolder", item.localFolder},
        {"localName", item.localName},
        // Base64: a server's name may be any bytes, not text.
        {"remotePath", QString::fromLatin1(item.remotePath.toBase64())},
        {"size", QString::number(item.size)},
        {"failed", item.state == QueueState::Failed},
        {"error", item.error},
        {"existing", existingName(item.existing)},
        {"targetFree", item.targetFree},
        {"parent", QString::number(item.parent)},
        {"lowerCase", item.lowerCase},
        {"listedTime", QString::number(item.listedTime)},
        {"abandonedCopy", QString::fromLatin1(item.abandonedCopy.toBase64())},
    };
}

std::optional<QueueItem> fromJson(const QJsonObject& object)
{
    QueueItem item;
    bool idOk = false;
    bool sizeOk = false;
    bool parentOk = false;
    item.id = object.value("id").toString().toULongLong(&idOk);
    item.size = object.value("size").toString().toLongLong(&sizeOk);
    item.parent = object.value("parent").toString().toULongLong(&parentOk);
    const QString direction = object.value("direction").toString();
    item.direction =
        direction == QStringLiteral("up") ? QueueDirection::Upload : QueueDirection::Download;
    item.folder = object.value("folder").toBool();
    item.localFolder = object.value("localFolder").toString();
    item.localName = object.value("localName").toString();
    item.remotePath = QByteArray::fromBase64(object.value("remotePath").toString().toLatin1());
    item.state = object.value("failed").toBool() ? QueueState::Failed : QueueState::Queued;
    item.error = object.value("error").toString();
    const QString existing = object.value("existing").toString();
    item.existing = existing == QStringLiteral("overwrite") ? ExistingTarget::Overwrite
                    : existing == QStringLiteral("skip")    ? ExistingTarget::Skip
                                                            : ExistingTarget::Ask;
    item.targetFree = object.value("targetFree").toBool();
    item.lowerCase = object.value("lowerCase").toBool();
    item.listedTime = object.value("listedTime").toString().toLongLong();
    item.abandonedCopy =
        QByteArray::fromBase64(object.value("abandonedCopy").toString().toLatin1());
    if (!idOk || !sizeOk || !parentOk || item.localFolder.isEmpty() || item.localName.isEmpty() ||
        !item.remotePath.startsWith('/') || item.remotePath.contains('\0') ||
        (direction != QStringLiteral("up") && direction != QStringLiteral("down")))
        return std::nullopt;
    return item;
}

} // namespace

QString QueueStore::defaultFilePath()
{
    return QString::fromStdString(GetDataFolder()) + QStringLiteral("zulftp-queue");
}

QueueStore::QueueStore(QString filePath)
    : m_filePath(std::move(filePath)),
      m_lock(std::make_unique<QLockFile>(m_filePath + QStringLiteral(".lock")))
{
    // A lock a crashed copy left is taken over (QLockFile checks that its process is gone).
    m_owned = m_lock->tryLock(0);
}

QueueStore::~QueueStore() = default;

bool QueueStore::write(const QList<QueueItem>& items)
{
    if (!m_owned)
        return true;
    QJsonArray array;
    for (const QueueItem& item : items) {
        if (item.state == QueueState::Finished || item.state == QueueState::Cancelled)
            continue;
        array.append(toJson(item));
    }
    const QJsonObject root{{"version", kVersion}, {"site", m_site}, {"items", array}};
    QSaveFile file(m_filePath);
    file.setDirectWriteFallback(false);
    // Local paths and server names are the user's business alone.
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

QList<QueueItem> QueueStore::read(QString& site) const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    if (root.value("version").toInt() != kVersion)
        return {};
    site = root.value("site").toString();
    QList<QueueItem> items;
    for (const QJsonValue& value : root.value("items").toArray()) {
        if (auto item = fromJson(value.toObject()))
            items << std::move(*item);
    }
    return items;
}

bool QueueStore::clear()
{
    return write({});
}
