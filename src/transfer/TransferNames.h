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

// True for a name the local file system can hold: at most 255 bytes once encoded. A longer
// name is refused rather than shortened, which could make it another file's name.
bool FitsLocalNameLimit(const QString& name);

// Why a name from the server cannot be downloaded as it is (not plain, or too long for the
// local file system), or an empty text when it can.
QString RefusedDownloadNameText(const QString& name);

// The warning shown when a symbolic link stands where a download would write (`path`).
QString LinkInTheWayText(const QString& path);

// The warning at the end of a folder upload that passed over `count` symbolic links, the first
// of them at `firstPath`.
QString SkippedLinksText(const QString& folderPath, int count, const QString& firstPath);

// The fixed beginning of the name a download is written under until it completed: the
// target's name (shortened when the whole would not fit the 255-byte limit) and
// kPartialSuffix. A dot and six unique characters follow it, so no two downloads and no
// existing file ever share the name. A failed or cancelled download leaves its partial data
// there.
QString PartialDownloadName(const QString& localName);

// True when `fileName` is the name of partial data left by a download of `localName`.
bool IsPartialDownloadOf(const QString& fileName, const QString& localName);

inline constexpr char kPartialSuffix[] = ".zulftp-part";
