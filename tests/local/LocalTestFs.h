#pragma once
// Small file-system helpers shared by the local pane's tests.
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace localtest {

inline bool writeFile(const QString& path, const QByteArray& content = "x")
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

inline bool makeReadOnly(const QString& path)
{
    return ::chmod(QFile::encodeName(path).constData(), 0444) == 0;
}

// Tests run as root here, and root may delete anything; to meet a folder that refuses, the
// test drops its effective user to "nobody" for the duration. As an ordinary user nothing
// needs to change: the permission bits alone refuse.
class RunAsUnprivileged
{
public:
    RunAsUnprivileged()
    {
        if (::geteuid() != 0) {
            m_ok = true;
            return;
        }
        m_ok = ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0;
        m_dropped = m_ok;
    }
    ~RunAsUnprivileged()
    {
        if (m_dropped) {
            (void)!::seteuid(0);
            (void)!::setegid(0);
        }
    }
    RunAsUnprivileged(const RunAsUnprivileged&) = delete;
    RunAsUnprivileged& operator=(const RunAsUnprivileged&) = delete;
    bool ok() const { return m_ok; }

private:
    static constexpr uid_t kNobody = 65534; // "nobody"
    bool m_ok = false;
    bool m_dropped = false;
};

// Lets every user into `path` so that an unprivileged test user can reach the tree.
inline bool openToEveryone(const QString& path)
{
    return ::chmod(QFile::encodeName(path).constData(), 0777) == 0;
}

// Hands a whole tree to `uid`, so that a test running unprivileged owns it.
inline bool chownTree(const QString& root, uid_t uid)
{
    if (::geteuid() != 0)
        return true; // an ordinary user already owns what the test made
    bool ok = ::lchown(QFile::encodeName(root).constData(), uid, uid) == 0;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::lchown(QFile::encodeName(it.next()).constData(), uid, uid) == 0 && ok;
    return ok;
}

// Gives the owner every right on every folder of a tree again, so it can be removed.
inline void unlockTree(const QString& root)
{
    (void)::chmod(QFile::encodeName(root).constData(), 0700);
    QDirIterator it(root, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        (void)::chmod(QFile::encodeName(it.next()).constData(), 0700);
}

inline constexpr uid_t kUnprivilegedUid = 65534;

} // namespace localtest
