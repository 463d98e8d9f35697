#include "sites/ui/DesktopKeyring.h"

#include <qt6keychain/keychain.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>

namespace {

// An entry nobody stores: reading it tells whether a keyring answers at all.
const QString kProbeEntry = QStringLiteral("keyring check");

QString errorText(const QKeychain::Job& job)
{
    switch (job.error()) {
    case QKeychain::NoBackendAvailable:
        return QStringLiteral("No desktop keyring service is running.");
    case QKeychain::AccessDeniedByUser:
        return QStringLiteral("The desktop keyring was not unlocked.");
    case QKeychain::AccessDenied:
        return QStringLiteral("The desktop keyring refused access.");
    default:
        break;
    }
    const QString detail = job.errorString();
    return detail.isEmpty() ? QStringLiteral("The desktop keyring reported an error.")
                            : QStringLiteral("The desktop keyring reported: ") + detail;
}

const QString kSecretService = QStringLiteral("org.freedesktop.secrets");
const QString kBusName = QStringLiteral("zulftp-keyring-check");
// Two local calls that a working service answers at once; one that takes longer is treated
// as a keyring that cannot take a password without asking.
constexpr int kCheckDeadlineMs = 3000;

// The default collection's object path, "/" when the service has none, or empty when no
// Secret Service answered.
QString defaultCollection(QDBusConnection& bus)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        kSecretService, QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("ReadAlias"));
    call << QStringLiteral("default");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCheckDeadlineMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst()).path();
}

bool collectionUnlocked(QDBusConnection& bus, const QString& path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kSecretService, path,
                                                       QStringLiteral("org.freedesktop.DBus."
                                                                      "Properties"),
                                                       QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCheckDeadlineMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariant locked = qdbus_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
    return locked.typeId() == QMetaType::Bool && !locked.toBool();
}

} // namespace

DesktopKeyring::DesktopKeyring(int deadlineMs) : m_deadlineMs(deadlineMs) {}

DesktopKeyring::~DesktopKeyring() = default;

bool DesktopKeyring::available()
{
    return read(kProbeEntry).status != Status::Unavailable;
}

bool DesktopKeyring::asksBeforeStoring()
{
    if (m_unanswered)
        return false;
    // A connection of its own, made from the environment as it is now: the session bus the
    // keyring library will use too.
    bool asks = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kBusName);
        if (bus.isConnected()) {
            const QString collection = defaultCollection(bus);
            // "/" is the service's answer for "no default keyring".
            asks = collection == QLatin1String("/") ||
                   (!collection.isEmpty() && !collectionUnlocked(bus, collection));
        }
    }
    QDBusConnection::disconnectFromBus(kBusName);
    return asks;
}

PasswordKeyring::Result DesktopKeyring::read(const QString& entry)
{
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kKeyringService));
    job->setKey(entry);
    return run(job);
}

PasswordKeyring::Result DesktopKeyring::write(const QString& entry, const QString& password)
{
    auto* job = new QKeychain::WritePasswordJob(QString::fromLatin1(kKeyringService));
    job->setKey(entry);
    job->setTextData(password);
    return run(job);
}

PasswordKeyring::Result DesktopKeyring::remove(const QString& entry)
{
    auto* job = new QKeychain::DeletePasswordJob(QString::fromLatin1(kKeyringService));
    job->setKey(entry);
    Result result = run(job);
    if (result.status == Status::NotFound)
        result.status = Status::Ok;
    return result;
}

PasswordKeyring::Result DesktopKeyring::run(QKeychain::Job* job)
{
    // Never written in clear anywhere as a stand-in for a missing keyring.
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    if (m_unanswered) {
        delete job;
        return {Status::Unavailable,
                {},
                QStringLiteral("The desktop keyring has not answered an earlier request.")};
    }
    QEventLoop loop;
    bool finished = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(m_deadlineMs);
    job->start();
    // The window repaints while the keyring works, but takes no clicks or keys: no other
    // command may start in the middle of this one.
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!finished) {
        QObject::disconnect(job, nullptr, &loop, nullptr);
        job->setAutoDelete(true);
        m_unanswered = job;
        return {Status::Unavailable,
                {},
                QStringLiteral("The desktop keyring did not answer within %1 seconds.")
                    .arg(m_deadlineMs / 1000)};
    }
    // Deleted once it has finished signalling, which it does after this loop let go.
    job->deleteLater();
    if (job->error() == QKeychain::EntryNotFound)
        return {Status::NotFound, {}, {}};
    if (job->error() != QKeychain::NoError)
        return {Status::Unavailable, {}, errorText(*job)};
    const auto* reading = qobject_cast<QKeychain::ReadPasswordJob*>(job);
    return {Status::Ok, reading ? reading->textData() : QString(), {}};
}
