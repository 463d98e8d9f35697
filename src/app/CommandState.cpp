#include "app/CommandState.h"

bool LocalFocused = false;
bool RemoteFocused = false;
bool RenameInProgress = false;

CommandState commandStateFor(bool connected, bool localFocused, bool remoteFocused)
{
    CommandState s;
    s.connect = !connected;
    s.disconnect = connected;
    s.toolbarPane = localFocused || (connected && remoteFocused);
    s.actionMenuPane = connected && (localFocused || remoteFocused);
    s.upload = connected && localFocused;
    s.download = connected && remoteFocused;
    s.remotePopup = connected && remoteFocused;
    s.localPopup = localFocused;
    s.acceptShellDrops = connected;
    return s;
}

bool MainActivation::focusMovedTo(FocusTarget target)
{
    switch (target) {
    case FocusTarget::Nothing:
        // Focus went to another application, or is between two of our windows: whichever
        // of ours had it last still decides.
        return false;
    case FocusTarget::OtherOwnWindow:
        m_cameFromOwnWindow = true;
        return false;
    case FocusTarget::MainWindow:
        break;
    }
    const bool run = !m_activatedOnce || m_cameFromOwnWindow;
    m_activatedOnce = true;
    m_cameFromOwnWindow = false;
    return run;
}
