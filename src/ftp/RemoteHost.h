#pragma once
#include "remote/SiteSession.h"

#include <QString>

class FileListModel;
class PasswordKeyring;
class ProgressSink;
class Prompter;

// The window around the connection and the remote listing: where their boxes, progress,
// cursor, status text, header and rows go. The main window implements it; tests bring their
// own, so connect and list run without the main window.
class RemoteHost
{
public:
    enum class Cursor { Default, Hourglass };

    virtual ~RemoteHost() = default;

    virtual Prompter& prompter() = 0;
    virtual ProgressSink& progress() = 0;
    // Sets the application-wide cursor; Default removes every override.
    virtual void setCursor(Cursor cursor) = 0;
    // The current site name (the LastSite setting), untrimmed.
    virtual QString currentSiteName() const = 0;
    // Status bar panel 1, the connection state.
    virtual void setConnectionStatus(const QString& text) = 0;
    virtual void UpdateCommandState(bool connected) = 0;
    // The desktop keyring that may hold the site's password; none when the program has none.
    virtual PasswordKeyring* keyring() { return nullptr; }
    // What ssh is started with beyond the site (the window: the user's own configuration;
    // tests: a configuration, known_hosts and askpass program of their own).
    virtual SshOptions sshOptions() const { return {}; }
    // Shows the Configure dialog modally.
    virtual void showConfigure() = 0;
    virtual FileListModel& remoteFiles() = 0;
    virtual void setRemoteHeader(const QString& caption) = 0;
    // What the progress dialog says is being done ("Downloading big.iso"), while it shows.
    virtual QString activity() const { return {}; }
    // Lets pending window events run during a long listing: repaints always, clicks and keys
    // only when `userInput` (otherwise they wait for the next call that takes them).
    virtual void processEvents(bool userInput) = 0;
    // Like processEvents(false) while a listing waits for the server with Cancel offered, but
    // the progress dialog takes clicks and keys, so its Cancel button can be pressed.
    virtual void processEventsForCancel() { processEvents(false); }
};
