#include "ftp/RemoteTreeWalk.h"

#include "common/FileListRows.h"
#include "remote/ServerSession.h"

namespace {

constexpr qsizetype kShownPassedOver = 12;

std::optional<QByteArray> currentFolder(ServerSession& session)
{
    QByteArray path;
    if (!session.currentFolder(path))
        return std::nullopt;
    return path;
}

// "/a/" and "/a" are the same folder; "/" stays "/".
QByteArray withoutTrailingSlash(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

QByteArray joined(const QByteArray& parent, const QByteArray& name)
{
    return parent == "/" ? parent + name : parent + '/' + name;
}

// A name a command can carry whole and that names one entry of this folder: "." and ".."
// name this folder and its parent, a "/" another folder, and CR, LF or NUL would end the
// command early or cut the name short.
bool isPlainName(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && name.indexOf('/') < 0 &&
           name.indexOf('\r') < 0 && name.indexOf('\n') < 0 && name.indexOf('\0') < 0;
}

} // namespace

RemoteTreeWalk::RemoteTreeWalk(ServerSession& session, std::optional<QByteArray> top)
    : m_session(session)
{
    if (top)
        m_top = withoutTrailingSlash(*top);
}

QByteArray RemoteTreeWalk::here() const
{
    return m_paths.empty() ? m_top.value_or(QByteArray()) : m_paths.back();
}

QByteArray RemoteTreeWalk::above() const
{
    return m_paths.size() < 2 ? m_top.value_or(QByteArray()) : m_paths[m_paths.size() - 2];
}

RemoteTreeWalk::Step RemoteTreeWalk::enter(const QByteArray& name)
{
    if (!m_top)
        m_top = withoutTrailingSlash(currentFolder(m_session).value_or(QByteArray()));
    if (!isPlainName(name)) {
        passOver(name, QStringLiteral("its name can't be sent to the server whole"));
        return Step::PassedOver;
    }
    if (depth() >= kMaxTreeDepth) {
        passOver(name, QStringLiteral("more than %1 folders deep").arg(kMaxTreeDepth));
        return Step::PassedOver;
    }
    const QByteArray parent = here();
    // Without the server's own path of the parent nothing can be compared; such a server
    // (or one that names folders in a form of its own, as VMS does) gets no walk at all.
    if (!parent.startsWith('/')) {
        passOver(name, QStringLiteral("the server did not name the folder it is in, so this "
                                      "could not be proven to be inside it"));
        return Step::PassedOver;
    }
    // The session sends the name alone, as it is in the parent.
    const QByteArray expected = joined(parent, name);
    if (m_failure = m_session.changeFolder(expected); !m_failure)
        return Step::Refused;
    const std::optional<QByteArray> arrived = currentFolder(m_session);
    if (arrived && withoutTrailingSlash(*arrived) == expected) {
        m_paths.push_back(expected);
        m_names.push_back(name);
        return Step::Entered;
    }
    // A link the server followed, or a server that went elsewhere: back by the parent's own
    // path, since ".." from over there leads somewhere else again (the session, seeing PWD
    // disagree, sends this one whole).
    if (m_failure = m_session.changeFolder(parent); !m_failure)
        return Step::Lost;
    if (arrived)
        passOver(name, QStringLiteral("entering it led to \"%1\", outside the folder")
                           .arg(ServerNameText(*arrived)));
    else
        passOver(name, QStringLiteral("the server would not say where entering it led"));
    return Step::PassedOver;
}

bool RemoteTreeWalk::leave()
{
    // The parent is one level up from where the session is, so it goes there by "CWD ..".
    if (m_failure = m_session.changeFolder(above()); !m_failure)
        return false;
    if (!m_paths.empty()) {
        m_paths.pop_back();
        m_names.pop_back();
    }
    return true;
}

QString RemoteTreeWalk::shownPath(const QByteArray& name) const
{
    QString path;
    for (const QByteArray& level : m_names)
        path += ServerNameText(level) + QLatin1Char('/');
    return path + ServerNameText(name);
}

void RemoteTreeWalk::passOver(const QByteArray& name, const QString& why)
{
    m_passedOver.push_back(QLatin1Char('"') + shownPath(name) + QStringLiteral("\": ") + why);
}

QString RemoteTreeWalk::passedOverLines() const
{
    QStringList lines = m_passedOver.mid(0, kShownPassedOver);
    if (m_passedOver.size() > kShownPassedOver)
        lines.push_back(QStringLiteral("and %1 more").arg(m_passedOver.size() - kShownPassedOver));
    return lines.join(QLatin1Char('\n'));
}
