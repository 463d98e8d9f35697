#pragma once
#include "remote/RemoteResult.h"

#include <QString>

#include <optional>

class RemoteHost;
struct SiteProfile;

// The caption of every box the connection shows.
inline constexpr char kAppTitle[] = "ZUL-FTP";
inline constexpr char kBlankConfigurationText[] =
    "Some of the Configuration information has been left blank.  Please enter the information "
    "for your FTP server and try again.";
inline constexpr char kNotConnectedText[] = "Not Connected";
inline constexpr char kConnectedToText[] = "Connected to ";
inline constexpr char kConnectionLostText[] = "The connection to the server was lost.";

// A failed internet call: the error code the service left and, after a refusal by the
// server, the server's reply.
struct FtpFailure
{
    quint32 code = 0;
    QString reply;
};

// The failure of the last internet call made on the calling thread.
FtpFailure LastFtpFailure();
// True for the codes with which the service says the connection itself is gone: dropped,
// aborted or reset, or a server that stopped answering (the service gives such a connection
// up, as a late reply would answer the wrong command).
bool IsConnectionLost(quint32 code);

// Opens the connection to the current site and enters its start directory. True when the
// connection is open there; on failure every handle it opened is closed again.
bool ConnectToSite(RemoteHost& host);
// The same for a site as given, stored or not (the quick connect's): from the Port check on.
bool ConnectToProfile(RemoteHost& host, SiteProfile site);
// Closes the session: its connection, then the engine it was opened on; true when both closed.
// Clears the list, header and status when at least one did.
bool DisconnectFromSite(RemoteHost& host);
// The one report of a failed internet call: hides the progress dialog, restores the cursor,
// shows `message` + "  (" + the last error code + ")" and sets ErrorReported. The box's detail
// text says what the code means and, after a server refusal, gives the server's reply.
// When the code says the connection is gone, the session is closed and the program is
// Disconnected (as after Disconnect) first, and the one box says kConnectionLostText in place
// of `message`; reports that follow from the loss in the same command show nothing.
void ReportFtpError(RemoteHost& host, const QString& message);
// The same for a failure taken earlier with LastFtpFailure (a call made on another thread).
// `about` names what failed (a host and port, a folder); without it the box names what the
// progress dialog said was being done.
void ReportFtpError(RemoteHost& host, const QString& message, const FtpFailure& failure,
                    const QString& about = {});
// The same for the result of a call on the session; a result that says the connection is lost
// is taken as such, whatever its code.
void ReportFtpError(RemoteHost& host, const QString& message, const RemoteResult& result,
                    const QString& about = {});
// What a failure of the current folder's entry is about: `Folder "name"`.
QString FolderAbout(const QString& folder);

// The Connect command: connect, list the start directory, then the asterisk beep.
void ConnectCommand(RemoteHost& host);
// Connect, list and beep as the Connect command does, to a site that is not stored.
bool QuickConnectCommand(RemoteHost& host, const SiteProfile& site);
// The Disconnect command.
void DisconnectCommand(RemoteHost& host);

// A Port text as a decimal integer (optional leading blanks and sign, 32-bit range), or
// nothing when it is not one.
std::optional<int> PortTextToInt(const QString& text);
