#pragma once
#include <QByteArray>
#include <QString>

class ProgressSink;
class ServerSession;
class UnfinishedUploads;
struct RemoteResult;

// The answers to the question whether to continue an earlier download.
enum class ResumeAnswer { Resume, StartOver, Cancel };

// What the step that moves bytes needs from the program around it: the server session, the
// lower-case option, the download folder, the progress dialog, and the two ways of telling
// the user that something went wrong. It asks nothing: every question about a transfer is
// answered before its bytes move (BatchHost, TransferPlan.h), so the moving step can run where
// nobody may be asked. Its two reports only tell: the main window shows them at once; a host
// that moves bytes away from the window keeps them with the item. The main window implements
// it; tests bring their own.
class TransferHost
{
public:
    virtual ~TransferHost() = default;

    // The session every call on the server goes through.
    virtual ServerSession& session() = 0;
    // False once the connection is gone (a loss was reported and closed it): every call on
    // the session would fail the same way.
    virtual bool connected() const = 0;
    virtual bool lowerCaseUpload() const = 0;
    // The current local folder: the folder every download is written into.
    virtual QString localFolder() const = 0;
    virtual ProgressSink& progress() = 0;
    // The one report of a failed call on the server: the message, two blanks, the error code
    // of `result`, the call's own outcome (with that connection's reply).
    virtual void reportFtpError(const QString& message, const RemoteResult& result) = 0;
    // A refusal the user must read: exclamation beep and a warning box.
    virtual void warn(const QString& text) = 0;
    // Where uploads that stopped early are remembered, and the connection's "user@host:port"
    // they are filed under. A host without them removes what a stopped upload left on the
    // server under a temporary name, as nothing could find it again.
    virtual const UnfinishedUploads* unfinishedUploads() const { return nullptr; }
    virtual QByteArray serverIdentity() const { return {}; }
};
