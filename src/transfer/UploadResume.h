#pragma once
#include "windef.h"

#include <QByteArray>
#include <QString>

class LocalFileReader;
struct RemoteEntry;
class TransferHost;
enum class TransferMode;
struct UploadPlan;

// Files smaller than this are simply sent again: continuing them would save less than the
// question costs the user.
inline constexpr qint64 kResumableUploadMin = 1024 * 1024;

// An upload that can be continued later: the open local file `source` goes into the current
// remote directory as the plan's target, through a temporary name as every upload, and when it
// stops early the copy it left on the server stays under its temporary name and is remembered
// (UnfinishedUploads) with its length and time instead of being removed. PlanUpload decides
// whether it continues the copy an earlier upload of the same unchanged local file to the same
// place left (asking "Resume", "Start Over", "Cancel" when that copy is still as it was left;
// Start Over removes it, its name being ours); a plan without a place to remember it in is
// uploaded as usual. Resume sends only the rest (APPE after SIZE) and puts the copy in place as
// a fresh upload would; a server that cannot is said so, and the upload starts over. The result
// is the upload's as UploadFile gives it.
bool SendRemembered(TransferHost& host, LocalFileReader& source, const UploadPlan& plan,
                    TransferMode mode);

// The copy's modification time as the record of stopped uploads keeps it: MDTM's form,
// "YYYYMMDDHHMMSS" in UTC, with the fraction of a second where there is one; empty when the
// server gave none.
QByteArray CopyTimeText(const RemoteEntry& entry);
