#pragma once
#include "remote/FtpServerSession.h"
#include "transfer/BatchHost.h"
#include "transfer/ui/MsgForm.h"
#include "wininet.h"

#include <cstdio>
#include <memory>

// What the transfer benchmarks share.

// The window around the transfers: the real progress dialog; every report is a failure.
class BenchTransferHost final : public BatchHost
{
public:
    ServerSession& session() override
    {
        if (!m_session || m_session->connectionHandle() != connection)
            m_session = std::make_unique<FtpServerSession>(connection, nullptr, false);
        return *m_session;
    }
    bool connected() const override { return connection != nullptr; }
    bool lowerCaseUpload() const override { return false; }
    QString localFolder() const override { return folder; }
    ProgressSink& progress() override { return dialog; }
    void reportFtpError(const QString& message, const RemoteResult& result) override
    {
        fail(message, result);
    }
    void warn(const QString& text) override { fail(text); }
    void setBusyCursor(bool) override {}
    void listRemoteFiles() override {}
    void listLocalFiles() override {}
    void showFileError(const QString& text) override { fail(text); }
    // A tree sent again over its copy: the user's answer is Overwrite, for every file.
    ExistsAnswer askExists(const QString&, bool) override
    {
        return {ExistsAction::Overwrite, true};
    }
    std::optional<QString> askNewName(const QString&, const QString&) override
    {
        return std::nullopt;
    }

    // The server's reply names the command that failed, which the message alone (shared by
    // every way up and down a tree) does not.
    void fail(const QString& text, const RemoteResult& result = {})
    {
        std::printf("error: %s (%u); reply: %s\n", qPrintable(text), result.code,
                    qPrintable(result.reply));
        failed = true;
    }

    HINTERNET connection = nullptr;
    QString folder;
    TfrmMsg dialog;
    bool failed = false;

private:
    std::unique_ptr<FtpServerSession> m_session;
};
