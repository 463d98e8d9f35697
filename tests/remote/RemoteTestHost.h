#pragma once
#include "ScriptedPrompter.h"
#include "common/FileListModel.h"
#include "common/ProgressSink.h"
#include "ftp/RemoteHost.h"

#include <QList>
#include <QStringList>

#include <functional>

// A progress dialog that remembers what it was asked to show.
class RecordingProgress final : public ProgressSink
{
public:
    void ShowProgress(const QString& message, const QString& title, bool showBar,
                      bool showStats) override
    {
        shown << message + QLatin1Char('|') + title + QLatin1Char('|') + QString::number(showBar) +
                     QString::number(showStats);
        visible = true;
    }
    void UpdateProgress(int, qint64, qint64, double) override {}
    void SetProgressPosition(int) override {}
    void CloseProgress() override { visible = false; }
    void OfferCancel() override { ++cancelOffers; }

    QStringList shown;
    bool visible = false;
    int cancelOffers = 0;
};

// The window around the connection, as plain fields the tests read back.
class RemoteTestHost final : public RemoteHost
{
public:
    Prompter& prompter() override { return script; }
    ProgressSink& progress() override { return progressLog; }
    void setCursor(Cursor value) override
    {
        cursor = value;
        if (value == Cursor::Hourglass)
            ++hourglassCount;
    }
    QString currentSiteName() const override { return siteName; }
    void setConnectionStatus(const QString& text) override { status = text; }
    void UpdateCommandState(bool connected) override { commandStates << connected; }
    PasswordKeyring* keyring() override { return passwordKeyring; }
    void showConfigure() override { ++configureShown; }
    FileListModel& remoteFiles() override { return files; }
    void setRemoteHeader(const QString& caption) override { header = caption; }
    void processEvents(bool userInput) override
    {
        ++pumps;
        if (!userInput)
            ++paintOnlyPumps;
    }
    void processEventsForCancel() override
    {
        ++cancelPumps;
        if (onCancelPump)
            onCancelPump();
    }

    ScriptedPrompter script;
    RecordingProgress progressLog;
    FileListModel files;
    QString siteName;
    QString status = QStringLiteral("Not Connected");
    QString header = QStringLiteral("Remote Files");
    QList<bool> commandStates;
    int configureShown = 0;
    PasswordKeyring* passwordKeyring = nullptr;
    Cursor cursor = Cursor::Default;
    int hourglassCount = 0;
    int pumps = 0;
    int paintOnlyPumps = 0;
    int cancelPumps = 0;
    std::function<void()> onCancelPump; // stands in for the user at the progress dialog
};
