#pragma once
#include <QString>

// The name rules of transfers. A name that came from the server is only ever joined to a
// local folder when it is a plain name, so no listing can make us write outside that folder.

// True for a name that stays inside the folder it is joined to: not empty, not "." or "..",
// no "/" and no NUL.
bool IsPlainName(const QString& name);

// The warning shown when the server offers a name that is not plain.
QString NotPlainNameText(const QString& name);

// The file-name part of a local path: the text after the last "/".
QString FileNamePart(const QString& path);

// The name an upload gets on the server: the file-name part of `localPath`, with the ASCII
// capitals A to Z lower-cased when `lowerCase` is set. Other characters keep their case.
QString RemoteNameFor(const QString& localPath, bool lowerCase);

// `folder` and `name` joined with exactly one "/" (the root "/" already ends in one).
QString JoinLocalPath(const QString& folder, const QString& name);

// The name a download is written under until it completed; a failed or cancelled download
// leaves its partial data there. Kept within the file system's 255-byte name limit.
QString PartialDownloadName(const QString& localName);

inline constexpr char kPartialSuffix[] = ".zulftp-part";
