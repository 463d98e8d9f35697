#pragma once
#include <QString>

#include <optional>

class RemoteHost;

// The caption of every box the connection shows.
inline constexpr char kAppTitle[] = "ZUL-FTP";
inline constexpr char kBlankConfigurationText[] =
    "Some of the Configuration information has been left blank.  Please enter the information "
    "for your FTP server and try again.";
inline constexpr char kNotConnectedText[] = "Not Connected";
inline constexpr char kConnectedToText[] = "Connected to ";

// Opens the connection to the current site and enters its start directory. True when the
// connection is open there; on failure every handle it opened is closed again.
bool ConnectToSite(RemoteHost& host);
// Closes both handles; true when both closed. Clears the list, header and status when at
// least one did.
bool DisconnectFromSite(RemoteHost& host);
// The one report of a failed internet call: hides the progress dialog, restores the cursor,
// shows `message` + "  (" + the last error code + ")" and sets ErrorReported. After a server
// refusal the server's reply is the box's detail text.
void ReportFtpError(RemoteHost& host, const QString& message);

// The Connect command: connect, list the start directory, then the asterisk beep.
void ConnectCommand(RemoteHost& host);
// The Disconnect command.
void DisconnectCommand(RemoteHost& host);

// A Port text as a decimal integer (optional leading blanks and sign, 32-bit range), or
// nothing when it is not one.
std::optional<int> PortTextToInt(const QString& text);
