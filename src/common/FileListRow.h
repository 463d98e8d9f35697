#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Image indexes of the row icons, shared by both file lists.
inline constexpr int kFolderImage = 0;
inline constexpr int kFileImage = 1;
inline constexpr int kArchiveImage = 2;

// The size of a non-folder row whose listing gave no usable size; shown as "?".
inline constexpr qint64 kUnknownRowSize = -1;
// The modification minutes of a row whose listing gave no date; shown empty.
inline constexpr qint64 kUnknownModifiedMinutes = -1;

// One row of LocalFiles or RemoteFiles. A row is a folder exactly when its image index is
// kFolderImage, and exactly then its size text is empty.
//
// A listing can hold a million rows, so the Size text is made from the number when it is
// shown rather than kept as a string of its own in every row.
struct FileListRow
{
    QString name;         // the "Name" column: the name as shown
    QByteArray nameBytes; // a remote name that is not UTF-8: its bytes as listed; else null
    QString modifiedText; // the "Modified" column: short date, blank, short time
    int imageIndex = kFileImage;
    qint64 size = 0;            // the listed size, kept for sorting and transfers; or
                                // kUnknownRowSize
    qint64 modifiedMinutes = 0; // the shown local date-time to the minute, kept for sorting;
                                // or kUnknownModifiedMinutes
    // The time exactly as listed (UTC, 100-ns ticks since 1601), finer than the minute the list
    // shows where the server gives seconds: what tells a file from one replaced seconds later.
    qint64 modifiedTime = 0;
    // A listed size beyond qint64's range, where `size` stops at its largest value: only the
    // Size text shows such a size whole. Else 0.
    quint64 sizeBeyondRange = 0;

    bool isFolder() const { return imageIndex == kFolderImage; }

    // The "Size" column: the size in decimal bytes, empty for a folder, "?" when the server
    // gave none that a file can have.
    QString sizeText() const
    {
        if (isFolder())
            return {};
        if (size < 0)
            return QStringLiteral("?");
        return sizeBeyondRange != 0 ? QString::number(sizeBeyondRange) : QString::number(size);
    }

    // The name every command sends to the server for this row. A server's name need not be
    // UTF-8, and its shown text may equal another entry's, so only its own bytes are sure to
    // reach this entry and no other.
    QByteArray serverName() const { return nameBytes.isNull() ? name.toUtf8() : nameBytes; }
};
