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
