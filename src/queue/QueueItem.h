#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Which way a queued item moves its bytes.
enum class QueueDirection { Download, Upload };

// Where an item stands. Running items that were left behind by a program that ended come back
// as Queued: their partial data stays where it was.
enum class QueueState { Queued, Running, Failed, Finished, Cancelled };

// What the planning decided for a target that is already there. Ask is what an item carries
// when nobody could be asked (a file found while a tree was listed, after the user gave no
// answer for the rest): such an item fails with the target left as it is, never replaced.
enum class ExistingTarget { Ask, Overwrite, Skip };

// One file or folder tree in the transfer queue.
struct QueueItem
{
    quint64 id = 0;
    QueueDirection direction = QueueDirection::Download;
    bool folder = false; // a tree, listed on a worker into items of its own
    // The local folder the user chose: nothing is ever written (downloads) or read (uploads of
    // a tree) outside it. `localName` is the "/"-separated path below it.
    QString localFolder;
    QString localName;
    QByteArray remotePath; // absolute on the server, the server's own bytes
    qint64 size = -1;      // -1: unknown
    // Downloads: the time the listing gave (UTC, 100-ns ticks since 1601; 0: none), kept
    // with partial data so that only the same file is ever continued.
    qint64 listedTime = 0;
    QueueState state = QueueState::Queued;
    qint64 bytesDone = 0;
    double rate = 0; // bytes per second while it ran
    QString error;   // why it failed, or a note about a finished tree (links passed over)
    ExistingTarget existing = ExistingTarget::Ask;
    // An upload into a remote folder this queue just made: nothing stands at its name.
    bool targetFree = false;
    quint64 parent = 0; // the tree item this one was listed from (0: none)
    // Uploads: names on the server get the capitals A to Z lower-cased (the user's option when
    // the item was queued), the files a tree finds included.
    bool lowerCase = false;
    // Uploads: the name of a stopped copy on the server the user chose to start over from.
    // The worker removes it instead of continuing it, but only while the record of stopped
    // uploads still names it: a copy this item leaves later is continued on a retry.
    QByteArray abandonedCopy;
    // The item's latest try in the message log: the worker (its connection's number there)
    // and the tag its lines carry (0: it never ran in this run of the program).
    int worker = 0;
    int logAttempt = 0;
};

inline bool IsOpen(QueueState state)
{
    return state == QueueState::Queued || state == QueueState::Running;
}
