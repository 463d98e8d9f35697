#pragma once
#include "wininet.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// How a tree walk lists a folder: a folder entry is a real folder as far as the server shows
// it, and a link the server's MLSD took for a folder comes marked as a link.
inline constexpr DWORD kTreeListingFlags = INTERNET_FLAG_RELOAD | FTP_FIND_REAL_FOLDERS;
// Deeper than this, a tree is taken for a loop no other check could see (a server that names
// a link's target by the link's own path) rather than for folders someone made.
inline constexpr int kMaxTreeDepth = 64;

// A listed entry that is a link (or could not be proven a folder): a walk never enters it.
inline bool IsListedLink(const WIN32_FIND_DATAA& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Walks down a server's tree from the current directory, entering only folders proven to be
// inside the tree: after "CWD name" the server must say (PWD) that it is exactly in the
// parent's path plus "/name". A link to a folder elsewhere, a server that moves somewhere
// else, or one that won't say where it went is never walked through, so a recursive delete or
// download can't reach anything outside the folder the user chose. What it passed over is
// kept for the report.
class RemoteTreeWalk
{
public:
    enum class Step {
        Entered,    // the server's current directory is now the folder
        Refused,    // CWD failed (LastFtpFailure says why); still in the parent
        PassedOver, // not proven to be inside the tree (noted); still in the parent
        Lost,       // it led elsewhere and the way back failed; where the server is, is unknown
    };

    // `top`: the server's current directory as already read (empty when the server would not
    // say); without it, the first enter() asks.
    explicit RemoteTreeWalk(HINTERNET connection, std::optional<QByteArray> top = std::nullopt);

    // Enters the folder `name` of the current directory (the chosen folder first, then the
    // folders inside it).
    Step enter(const QByteArray& name);
    // Records that the caller's own way back up ("..") from the folder entered last succeeded.
    void left();
    int depth() const { return static_cast<int>(m_names.size()); }
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

    HINTERNET m_connection;
    std::optional<QByteArray> m_top; // the directory the walk started in; empty: unknown
    std::vector<QByteArray> m_paths; // the server's path of each folder entered
    std::vector<QByteArray> m_names; // and its name
    QStringList m_passedOver;
};
