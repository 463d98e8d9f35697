#pragma once
#include "transfer/BatchHost.h"
#include "transfer/ui/MsgForm.h"
#include "wininet.h"

#include <cstdio>

// What the transfer benchmarks share.

// The window around the transfers: the real progress dialog; every report is a failure.
class BenchTransferHost final : public BatchHost
{
public:
    HINTERNET connectionHandle() const override { return connection; }
    bool lowerCaseUpload() const override { return false; }
    QString localFolder() const override { return folder; }
    ProgressSink& progress() override { return dialog; }
    void reportFtpError(const QString& message) override { fail(message); }
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

    void fail(const QString& text)
    {
        // The server's last words name the command that failed, which the message alone
        // (shared by every way up and down a tree) does not.
        const DWORD error = GetLastError();
        char reply[512] = {};
        DWORD code = 0;
        DWORD length = sizeof reply;
        if (!InternetGetLastResponseInfoA(&code, reply, &length))
            reply[0] = '\0';
        std::printf("error: %s (%u); last reply: %s\n", qPrintable(text), error, reply);
        failed = true;
    }

    HINTERNET connection = nullptr;
    QString folder;
    TfrmMsg dialog;
    bool failed = false;
};
