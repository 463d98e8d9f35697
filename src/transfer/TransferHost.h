#pragma once
#include "wininet.h"

#include <QByteArray>
#include <QString>

#include <memory>

class FtpServerSession;
class ProgressSink;
class ServerSession;
class UnfinishedUploads;

// The answers to the question whether to continue an earlier download.
enum class ResumeAnswer { Resume, StartOver, Cancel };

// What the single-file engine needs from the program around it: the open connection, the
// lower-case option, the download folder, the progress dialog, and the two ways of telling
// the user that something went wrong. The main window implements it; tests bring their own.
class TransferHost
{
public:
    virtual ~TransferHost() = default;

    virtual HINTERNET connectionHandle() const = 0;
    // The session every call on the server goes through; by default one over
    // connectionHandle(), made when first asked for that handle.
    virtual ServerSession& session();
    virtual bool lowerCaseUpload() const = 0;
    // The current local folder: the folder every download is written into.
    virtual QString localFolder() const = 0;
    virtual ProgressSink& progress() = 0;
    // The one report of a failed internet call: the message, two blanks, the error code.
    virtual void reportFtpError(const QString& message) = 0;
    // A refusal the user must read: exclamation beep and a warning box.
    virtual void warn(const QString& text) = 0;
    // Asks `text` (whether to resume an earlier download or upload) with Resume, Start Over
    // and Cancel. A host that cannot ask starts over, as every transfer did before it could
    // resume.
    virtual ResumeAnswer askResume(const QString& text)
    {
        (void)text;
        return ResumeAnswer::StartOver;
    }
    // Where uploads that stopped early are remembered, and the connection's "user@host:port"
    // they are filed under. A host without them removes what a stopped upload left on the
    // server under a temporary name, as nothing could find it again.
    virtual const UnfinishedUploads* unfinishedUploads() const { return nullptr; }
    virtual QByteArray serverIdentity() const { return {}; }
    // Asks the question `text` with Yes and No; a host that cannot ask answers No.
    virtual bool askYesNo(const QString& text)
    {
        (void)text;
        return false;
    }

private:
    std::shared_ptr<FtpServerSession> m_session;
};
