#pragma once
#include "common/FileListRow.h"
#include "ftp/RemoteSession.h"
#include "ftp/RemoteTreeWalk.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

class RemoteHost;
class ServerSession;

inline constexpr char kDeleteQuestion[] =
    "Are you sure you want to delete the selected files or folders?";
inline constexpr char kDeleteFailedText[] = "FTP Delete Failed.";
// %1: the folder chosen; %2: what was left, one a line with the reason.
inline constexpr char kFolderLeftText[] =
    "FTP Delete Failed: \"%1\" was not deleted completely. Nothing outside it was touched, "
    "and these were left on the server:\n%2";

// The remote Delete command on the rows selected in RemoteFiles, top to bottom: asks, then
// deletes each file and each folder tree in turn. The first row that can't be deleted is
// reported and ends the command; the rows after it are not tried and the list is kept as it
// is. After full success the list is rebuilt. Ignored while another long operation runs.
void RemoteDeleteSelection(RemoteHost& host, const std::vector<FileListRow>& selectedRows);

// Deletes files and whole folder trees in the server's current directory, and after any
// outcome leaves the server's current directory where it found it.
class RemoteDeleter
{
public:
    // Deletes through `session`, in the folder it is in.
    RemoteDeleter(RemoteHost& host, ServerSession& session) : m_host(host), m_session(session) {}

    bool DeleteRemoteFile(const QByteArray& name);
    // Removes the folder `name` with everything in it, depth first. True exactly when the
    // folder is gone.
    bool DeleteRemoteFolder(const QByteArray& name);
    // Why the last delete that returned false failed.
    const FtpFailure& failure() const { return m_failure; }
    // The server's current directory is not the one the delete started in: a failure on the
    // way back up, and the starting directory could not be entered again either.
    bool lost() const { return m_lost; }
    // What the last folder delete left alone because it could not be proven to be inside the
    // folder (links among them), one a line with the reason; empty when nothing was.
    QString passedOver() const { return m_walk ? m_walk->passedOverLines() : QString(); }

private:
    struct Entry
    {
        QByteArray name;
        bool folder = false;
        bool link = false;
    };
    bool deleteFolderAt(const QByteArray& name);
    bool readEntries(std::vector<Entry>& entries);
    void deleteEntries(const std::vector<Entry>& entries);
    bool leaveFolder();
    // Keeps the first failure and stops the walk when the connection can't be trusted.
    void noteFailure(const RemoteResult& failure);
    void returnToStart();
    void deleteLink(const QByteArray& name);
    // `name` in the session's folder.
    QByteArray path(const QByteArray& name) const;

    RemoteHost& m_host;
    ServerSession& m_session;
    FtpFailure m_failure;
    // The first failure met inside the tree being deleted, which explains why its folder is
    // still there better than the removal's own "not empty" refusal.
    std::optional<FtpFailure> m_firstFailure;
    // The server's current directory when the first folder was entered, to go back to if
    // the way up one level fails; empty when the server would not say.
    std::optional<QByteArray> m_start;
    // The folder delete under way: which folders it may enter, and what it left alone.
    std::optional<RemoteTreeWalk> m_walk;
    // The connection failed in a way no further command can mend: nothing more is sent.
    bool m_stopped = false;
    // Somewhere below the starting directory and unable to climb back by "..".
    bool m_lost = false;
};
