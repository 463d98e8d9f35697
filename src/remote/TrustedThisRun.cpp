#include "remote/TrustedThisRun.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace {

struct Store
{
    std::mutex lock;
    std::condition_variable answered;
    QHash<QString, QString> keys; // "kind host:port" -> the key trusted
    QSet<QString> asking;         // the hosts a question is showing for
};

Store& store()
{
    static Store theStore;
    return theStore;
}

// Host names are not case-sensitive (RFC 4343).
QString slot(TrustedThisRun::Kind kind, const QString& host, quint16 port)
{
    return QStringLiteral("%1 %2:%3").arg(int(kind)).arg(host.toLower()).arg(port);
}

bool onApplicationThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return !application || QThread::currentThread() == application->thread();
}

} // namespace

namespace TrustedThisRun {

QString key(Kind kind, const QString& host, quint16 port)
{
    Store& trusted = store();
    const std::lock_guard guard(trusted.lock);
    return trusted.keys.value(slot(kind, host, port));
}

void remember(Kind kind, const QString& host, quint16 port, const QString& key)
{
    Store& trusted = store();
    const std::lock_guard guard(trusted.lock);
    trusted.keys.insert(slot(kind, host, port), key);
}

bool askOnce(Kind kind, const QString& host, quint16 port, const QString& key,
             const std::function<bool()>& ask)
{
    Store& trusted = store();
    const QString at = slot(kind, host, port);
    std::unique_lock guard(trusted.lock);
    if (!onApplicationThread())
        trusted.answered.wait(guard, [&] { return !trusted.asking.contains(at); });
    if (trusted.keys.value(at) == key)
        return true;
    trusted.asking.insert(at);
    guard.unlock();
    const bool yes = ask();
    guard.lock();
    trusted.asking.remove(at);
    if (yes)
        trusted.keys.insert(at, key);
    trusted.answered.notify_all();
    return yes;
}

void forgetAll()
{
    Store& trusted = store();
    const std::lock_guard guard(trusted.lock);
    trusted.keys.clear();
}

} // namespace TrustedThisRun
