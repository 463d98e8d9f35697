#pragma once
// The settings the program remembers between runs, kept under one registry key, and their
// in-memory copy that the rest of the program reads.
#include "app/SettingsHost.h"
#include "windef.h"

#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>

#include <optional>

class Prompter;

// The key, under HKEY_LOCAL_MACHINE.
inline constexpr const char* kSettingsKeyPath = "\\Software\\Tarnwick\\ZUL-FTP";

// A server the quick connect bar reached: offered again in its host field's drop-down. Never
// a password: the quick connect keeps none.
struct QuickConnectEntry
{
    QString host;
    QString user;
    int port = 21;
    bool operator==(const QuickConnectEntry&) const = default;
};
// How many recent quick connects are remembered.
inline constexpr int kQuickConnectRecentMax = 8;

// The in-memory copy. Only LoadSettings assigns it (tests reset it with `Settings = {}`).
struct SettingsValues
{
    QString LastSite;
    QString DefaultLocalPath;
    // The local pane's folder when the program was last closed; empty before the first close.
    QString LastLocalFolder;
    int LastRemoteSort = 1;
    int LastLocalSort = 0;
    ColumnWidths LastRemoteColWidths{0, 0, 0};
    ColumnWidths LastLocalColWidths{0, 0, 0};
    int LocalFoldersWidth = 160;
    int LocalFilesWidth = 380;
    bool LowerCaseUpload = false;
    bool AutoConnect = false;
    bool QuickConnectBar = true; // the quick connect bar is shown
    // Transfers go to the queue and run on connections of their own while the user browses.
    bool BackgroundTransfers = true;
    int SimultaneousTransfers = 2; // 1..10
    int QueuePaneHeight = 160;     // the queue pane at the bottom, in pixels; 0: hidden
    // The latest first; entries with an empty host or a port outside 1..65535 are dropped.
    QList<QuickConnectEntry> QuickConnectRecent;
};
extern SettingsValues Settings;

// Defaults, then every stored value over them, then the title "ZUL-FTP - " + LastSite.
// LastLocalSort, LowerCaseUpload, AutoConnect and the "&Small Buttons" mark keep what they
// hold when their value is absent. A value of the wrong type or one that cannot be read is
// reported and keeps its default; the remaining values are still read. A damaged registry
// file is reported too. Each distinct message is shown once per run: the main window reloads
// the settings whenever it is activated, and closing the box activates it again.
// Returns false when something was wrong (whether or not it was shown again).
bool LoadSettings(SettingsHost& host, Prompter& prompter);

// Writes the placement (bounds only in the normal state, the state unless minimised), the
// current sort codes (RemoteSort, LocalSort), column and pane widths and the two toolbar
// marks, creating the key when missing. Stops at the first value that cannot be written,
// with "Failed to set data for '%s'". Returns false after a reported failure.
bool SaveSettings(SettingsHost& host, Prompter& prompter);

// What FormCreate applies of the stored placement: the position only when both "Last X-Pos"
// and "Last Y-Pos" are stored, the size only when both "Last Width" and "Last Height" are,
// the state when "Last Window State" is. The key is opened, never created.
struct StartupPlacement
{
    std::optional<QPoint> position;
    std::optional<QSize> size;
    std::optional<WindowShowState> state; // stored 1 = minimised, 2 = maximised, else normal
};
StartupPlacement ReadStartupPlacement(Prompter& prompter);

// The four values the Configure dialog shows; each is set only when it is stored.
struct ConfigureOptions
{
    std::optional<QString> lastSite;
    std::optional<QString> defaultLocalPath;
    std::optional<bool> lowerCaseUpload;
    std::optional<bool> autoConnect;
    // "PasswordsInKeyring": keep site passwords in the desktop keyring. Not stored until the
    // user first presses OK; until then the dialog offers it wherever a keyring answers.
    std::optional<bool> passwordsInKeyring = {};
};
ConfigureOptions ReadConfigureOptions(Prompter& prompter);

// The Configure dialog's OK: writes LastSite, DefaultLocalPath, LowerCaseUpload, AutoConnect
// in that order, then PasswordsInKeyring when given, creating the key when missing. Stops at
// the first failure, which is shown; the values written before it stay written. Returns false
// after a failure.
bool WriteConfigureOptions(const QString& lastSite, const QString& defaultLocalPath,
                           bool lowerCaseUpload, bool autoConnect, Prompter& prompter,
                           std::optional<bool> passwordsInKeyring = std::nullopt);

// The site picker's choice: writes LastSite alone. Returns false after a shown failure.
bool WriteLastSite(const QString& lastSite, Prompter& prompter);
// The Configure dialog's transfer options, and the queue pane's height, kept for the next
// start. The count is kept within 1..10.
bool WriteTransferOptions(bool background, int simultaneous, Prompter& prompter);
bool WriteQueuePaneHeight(int height, Prompter& prompter);
// The View menu's choice of showing the quick connect bar, kept for the next start.
bool WriteQuickConnectBarShown(bool shown, Prompter& prompter);
// Puts `entry` first in the recent quick connects (once: the same host in any letter case,
// user and port is moved, not repeated), keeps the first kQuickConnectRecentMax and writes
// them. Returns false after a shown failure.
bool RememberQuickConnect(const QuickConnectEntry& entry, Prompter& prompter);

// The detail of a box about a settings or profile file that could not be written, for the
// failure `code`: what to do when another process kept the file locked; empty otherwise.
QString StoreWriteFailureDetail(DWORD code);

// The executable's folder with its trailing '/'.
QString ExecutableFolder();

// The default of DefaultLocalPath: the user's home folder (with a trailing '/'). The
// executable's folder is where a build tree or a portable copy keeps its own files, not the
// user's.
QString DefaultLocalFolder();

// Forgets which messages were already shown this run (for tests).
void ResetSettingsMessages();
