#pragma once

// The active pane and the in-place rename state, read by every shared command.
// True while LocalFiles holds the keyboard focus.
extern bool LocalFocused;
// True while RemoteFiles holds the keyboard focus.
extern bool RemoteFocused;
// True while a name in either file list is being edited in place; Backspace and Delete
// then belong to the editor, not to the list.
extern bool RenameInProgress;

// Which commands are available, for the connected state and the two pane flags. The toolbar
// and the "&Action" menu deliberately differ: without a connection the toolbar still serves
// the local pane, while the menu's pane items wait for a connection.
struct CommandState
{
    bool connect = false;          // btnConnect, mnuConnect
    bool disconnect = false;       // btnDisconnect, mnuDisconnect
    bool toolbarPane = false;      // btnUpOneLevel, btnNewFolder, btnRefresh, btnDelete, btnOpen
    bool actionMenuPane = false;   // mnuUpOneLevel, mnuNewFolder, mnuRefresh, mnuDelete
    bool upload = false;           // btnUpload, mnuUpload, mnuLocalUpload
    bool download = false;         // btnDownload, mnuDownload, mnuRemoteDownload
    bool remotePopup = false;      // mnuRemoteOpen, mnuRemoteDelete, mnuRemoteNewFolder, ...Refresh
    bool localPopup = false;       // mnuLocalOpen, mnuLocalDelete, mnuLocalNewFolder, ...Refresh
    bool acceptShellDrops = false; // DropFile

    bool operator==(const CommandState&) const = default;
};

CommandState commandStateFor(bool connected, bool localFocused, bool remoteFocused);

// Decides when the main window's activation handler runs: at its first activation, and each
// time the focus comes back to it from another window of the program (a dialog, a message
// box, the help window), but not when the user returns from another application.
class MainActivation
{
public:
    enum class FocusTarget { Nothing, MainWindow, OtherOwnWindow };

    // The program's focus window changed; true when the activation handler should run now.
    bool focusMovedTo(FocusTarget target);

private:
    bool m_activatedOnce = false;
    bool m_cameFromOwnWindow = false;
};
