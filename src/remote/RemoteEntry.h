#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The size of an entry whose listing gave none a file can have (the same value a list row
// keeps for it).
inline constexpr qint64 kUnknownEntrySize = -1;

// How exactly a server gave an entry's time: an ls-style listing of a recent file names the
// minute, an older one only the day; MLSD and MDTM give seconds or finer.
enum class TimePrecision { Unknown, Day, Minute, Second };

// One entry of a server's folder as any protocol lists it.
struct RemoteEntry
{
    QString name;          // as shown, and as a download names it locally
    QByteArray serverName; // exactly as listed: what every command about it sends
    bool isFolder = false;
    bool isLink = false; // a link to a folder, or nothing proven to be a folder: never entered
    // The listed size, kUnknownEntrySize when there was none; a size beyond qint64 stops at
    // its largest value, and `sizeBeyondRange` holds it whole (else 0).
    qint64 size = 0;
    quint64 sizeBeyondRange = 0;
    // UTC, 100-ns ticks since 1601 (as a list row keeps it); 0 when the server gave no time.
    qint64 modifiedTime = 0;
    TimePrecision precision = TimePrecision::Unknown;
};
