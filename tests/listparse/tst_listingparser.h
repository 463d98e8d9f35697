#pragma once
#include "wininet/ListingParser.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QTimeZone>

// Raw listing lines of every server form, turned into find records.
class TestListingParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mlsdEntries_data();
    void mlsdEntries();
    void mlsdRejected_data();
    void mlsdRejected();
    void listEntries_data();
    void listEntries();
    void listRejected_data();
    void listRejected();
    void familyEntries_data();
    void familyEntries();
    void serverLines_data();
    void serverLines();
    void lsRoundTrip_data();
    void lsRoundTrip();
    void listingsMixHeadersAndEntries_data();
    void listingsMixHeadersAndEntries();
    void timeOfDayYear_data();
    void timeOfDayYear();
    void dateOnlyWhereNoTimeIsListed_data();
    void dateOnlyWhereNoTimeIsListed();
    void nameLengthLimit_data();
    void nameLengthLimit();
    void recordHoldsNothingOfPreviousEntry();
    void truncatedAndMangledLinesAreSafe();
};

inline QDateTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                     int millis = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, millis),
                     QTimeZone::utc());
}

// The record's last-write time, read the way the program's own code reads a FILETIME.
inline QDateTime writtenAt(const WIN32_FIND_DATAA& data)
{
    const quint64 ticks =
        (quint64(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    const qint64 millisSince1601 = qint64(ticks / 10000);
    return utc(1601, 1, 1).addMSecs(millisSince1601);
}

inline quint64 sizeOf(const WIN32_FIND_DATAA& data)
{
    return (quint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
