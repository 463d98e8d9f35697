#pragma once
// What an upload that stopped early remembers, so that a later upload of the same local file
// to the same place can continue the copy it left on the server instead of sending it all.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// The local file as it was when its upload stopped: a later upload continues only from the
// very same data.
struct LocalStamp
{
    QByteArray path; // the full local path, in the file system's encoding
    qint64 size = 0;
    qint64 modifiedNs = 0; // the modification time, nanoseconds since the epoch

    bool operator==(const LocalStamp&) const = default;
};

// One stopped upload: where it went and what it left there.
struct UnfinishedUpload
{
    QByteArray server;        // "user@host:port" of the connection
    QByteArray remoteFolder;  // the server's current directory at the time (PWD)
    QByteArray targetName;    // the name the file was to have
    QByteArray temporaryName; // what holds the partial copy (the target's own name in a
                              // record of an older version, which uploaded straight there)
    LocalStamp local;
    // The copy on the server as it was when the upload stopped: its length (SIZE, -1 when
    // the connection was gone by then) and modification time (MDTM, empty when unknown). A
    // later upload continues only a copy that still matches, so never one someone replaced.
    qint64 copySize = -1;
    QByteArray copyTime;
};

// The stopped uploads, kept in a file of the data folder that only its owner may read or
// write: the temporary names on the server are random, so nothing else could find them again,
// and nobody else may make the program append to or delete a name of their choosing.
class UnfinishedUploads
{
public:
    explicit UnfinishedUploads(QString filePath);
    // The data folder followed by "zulftp-uploads".
    static QString defaultFilePath();

    // The upload remembered for the target, if any.
    std::optional<UnfinishedUpload> find(const QByteArray& server, const QByteArray& remoteFolder,
                                         const QByteArray& targetName) const;
    // Remembers `upload` in place of any other for the same target. False when the file
    // could not be written; then nothing can find the partial copy again.
    bool remember(const UnfinishedUpload& upload) const;
    // Forgets what was remembered for the target.
    void forget(const QByteArray& server, const QByteArray& remoteFolder,
                const QByteArray& targetName) const;

    const QString& filePath() const { return m_filePath; }

private:
    QList<UnfinishedUpload> read() const;
    bool write(const QList<UnfinishedUpload>& uploads) const;

    QString m_filePath;
};

// The most uploads remembered at once; the oldest goes first. Their copies stay on the
// server under names ending in ".zulftp-upload", where the user can still see them.
inline constexpr qsizetype kUnfinishedUploadsMax = 200;
