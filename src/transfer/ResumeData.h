#pragma once
// What a download remembers beside its partial data, so that a later download of the same
// remote file can continue where it broke off instead of starting again from the first byte.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

class LocalDirectory;

// A remote file as its listing row showed it when the download began: the server's own name
// bytes, the listed size and the listed modification time exactly as the listing gave it (UTC
// ticks of 100 ns: to the second or finer from MLSD, to the minute or day from LIST). A file
// replaced by one of the same size seconds later must not count as the same file, so the time
// is never rounded to what the list shows.
struct RemoteStamp
{
    QByteArray serverName;
    qint64 size = 0;
    qint64 modifiedTime = 0;

    bool operator==(const RemoteStamp&) const = default;
};

// A stamp's time that no listing gives: data kept by an earlier version of the program, which
// remembered the time to the minute only, is taken for a file that may have changed.
inline constexpr qint64 kUnknownRemoteTime = -1;

// The stamp as the partial file keeps it, and back. Decoding is strict: anything else than
// what EncodeRemoteStamp writes (or the earlier version wrote) gives nothing.
QByteArray EncodeRemoteStamp(const RemoteStamp& stamp);
std::optional<RemoteStamp> DecodeRemoteStamp(QByteArrayView bytes);

// Keeps `stamp` on the open partial file `fd` (an extended attribute, so it goes wherever
// the file goes and needs no second file of its own). A file system without extended
// attributes keeps nothing; such partial data is then simply never offered for resuming, and
// the result is false.
bool RememberRemoteStamp(int fd, const RemoteStamp& stamp);

// Partial data found in a local folder for a download.
struct PartialDownload
{
    QString name;          // its name in the folder
    qint64 size = 0;       // the bytes it holds
    bool unchanged = true; // the remote file is listed as it was when this data was written
};

// The names in one local folder that look like partial data, read once. A folder download
// looks for partial data before every file it fetches; reading the whole folder each time
// made a folder of n files cost n times its size.
class PartialDownloadNames
{
public:
    explicit PartialDownloadNames(const LocalDirectory& folder);
    const QStringList& names() const { return m_names; }

private:
    QStringList m_names;
};

// The partial data an earlier download of exactly `listed.serverName` left in `folder` for
// the local name `localName`: the largest such file when there are several. Files of another
// remote name (two long names can share the shortened partial name), files without a stamp
// and anything that is not a regular file are never taken. Nothing when there is none.
// `known`, when given, stands for the folder's entries (read when the folder download began).
std::optional<PartialDownload> FindPartialDownload(const LocalDirectory& folder,
                                                   const QString& localName,
                                                   const RemoteStamp& listed,
                                                   const PartialDownloadNames* known = nullptr);

// Every partial file an earlier download of exactly `listed.serverName` left for `localName`,
// other than `keep`, is removed: a download that completed has made them useless.
void RemoveOtherPartialDownloads(const LocalDirectory& folder, const QString& localName,
                                 const QByteArray& serverName, const QString& keep);

// True when `localName` in `folder` is a regular file (not through a link) that a download of
// `listed` completed: it carries the same stamp and holds as many bytes as listed.
bool HoldsCompleteDownload(const LocalDirectory& folder, const QString& localName,
                           const RemoteStamp& listed);

// The question a folder download asks once when it finds files it brought here before.
inline constexpr char kSkipPresentText[] = "Skip files that are already here?";

// The question before a resume: "Resume the earlier download of NAME (X KB of Y KB)?".
QString ResumeQuestionText(const QString& name, qint64 have, qint64 total);
// What the user reads when the server cannot continue a download.
QString NoResumeText(const QString& name);
// A download that ended with another size than listed (and than the server's SIZE, where it
// could be asked), so it was not put in place. `kept`: the full path of the data that arrived,
// or empty when it was removed.
QString SizeMismatchText(const QString& path, qint64 got, qint64 listed, const QString& kept);
// A download the local disk refused (`reason`: the system's words, as for disk full). `kept`:
// the full path of the data kept for resuming, or empty when nothing of it is left.
QString LocalWriteFailedText(const QString& path, const QString& reason, const QString& kept);
// A downloaded file that replaced one with other hard links: they keep the earlier contents.
QString OtherLinksKeptText(const QString& path);
// The same two for an upload: "Resume the earlier upload of NAME (X KB of Y KB)?".
QString UploadResumeQuestionText(const QString& name, qint64 have, qint64 total);
QString NoUploadResumeText(const QString& name);
// What the user reads when their own file was to be continued and the server cannot: the
// file (here, or on the server for an upload) is left as it is.
QString NoResumeKeptText(const QString& name, bool upload);

// A non-negative decimal number of at most 19 digits, nothing else (no sign, no blanks).
std::optional<qint64> ParseDecimal(QByteArrayView text);
