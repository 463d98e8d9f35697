#pragma once
#include "common/ProgressSink.h"
#include "ftp/RemoteHost.h"

class TfrmMain;

// The main window seen as the connection's and the listing's surroundings: its prompter,
// progress dialog, status panel, remote header and remote rows.
class MainRemoteHost final : public RemoteHost
{
public:
    explicit MainRemoteHost(TfrmMain& main) : m_main(main) {}

    Prompter& prompter() override;
    ProgressSink& progress() override;
    void setCursor(Cursor cursor) override;
    QString currentSiteName() const override;
    void setConnectionStatus(const QString& text) override;
    void UpdateCommandState(bool connected) override;
    PasswordKeyring* keyring() override;
    SshOptions sshOptions() const override;
    void showConfigure() override;
    FileListModel& remoteFiles() override;
    void setRemoteHeader(const QString& caption) override;
    QString activity() const override;
    void processEvents(bool userInput) override;
    void processEventsForCancel() override;

    // Sets the application-wide cursor: the hourglass, or none of ours (the default).
    static void applyCursor(Cursor cursor);

private:
    TfrmMain& m_main;
    NoProgress m_noProgress;
};
