#pragma once
#include "remote/RemoteResult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class ServerSession;

// Deeper than this, a tree is taken for a loop no other check could see (a server that names
// a link's target by the link's own path) rather than for folders someone made.
inline constexpr int kMaxTreeDepth = 64;

// Walks down a server's tree from the session's folder, entering only folders proven to be
// inside the tree: after "CWD name" the server must say (PWD) that it is exactly in the
// parent's path plus "/name". A link to a folder elsewhere, a server that moves somewhere
// else, or one that won't say where it went is never walked through, so a recursive delete or
// download can't reach anything outside the folder the user chose. Links are known from the
// session's Walk listing, which marks them. What it passed over is kept for the report.
class RemoteTreeWalk
{
public:
    enum class Step {
        Entered,    // the session's folder is now the folder
        Refused,    // CWD failed (failure() says why); still in the parent
        PassedOver, // not proven to be inside the tree (noted); still in the parent
        Lost,       // it led elsewhere and the way back failed; where the server is, is unknown
    };

    // `top`: the session's folder as already read (empty when the server would not say);
    // without it, the first enter() asks.
    explicit RemoteTreeWalk(ServerSession& session, std::optional<QByteArray> top = std::nullopt);

    // Enters the folder `name` of the current folder (the chosen folder first, then the
    // folders inside it).
    Step enter(const QByteArray& name);
    // Goes back up ("CWD ..") from the folder entered last; false (failure() says why) when the
    // server refused, and the walk then no longer knows where the server is.
    bool leave();
    int depth() const { return static_cast<int>(m_names.size()); }
    // Why the last enter() or leave() failed.
    const RemoteResult& failure() const { return m_failure; }
    // `name` of the current folder as the user reads it, from the chosen folder down:
    // "tree/ro/link".
    QString shownPath(const QByteArray& name) const;
    // Notes an entry left alone and why: "tree/www": `why`.
    void passOver(const QByteArray& name, const QString& why);
    const QStringList& passedOver() const { return m_passedOver; }
    // The passed-over entries, one a line, the first few of many.
    QString passedOverLines() const;

private:
    QByteArray here() const;
    QByteArray above() const;

    ServerSession& m_session;
    std::optional<QByteArray> m_top; // the folder the walk started in; empty: unknown
    std::vector<QByteArray> m_paths; // the server's path of each folder entered
    std::vector<QByteArray> m_names; // and its name
    QStringList m_passedOver;
    RemoteResult m_failure;
};
