#include "local/LocalListing.h"

#include "common/FileListRows.h"
#include "local/PosixDir.h"

#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>

namespace {

constexpr qint64 kPumpIntervalMs = 16;
constexpr int kEntriesPerClockCheck = 64;

} // namespace

void enumerateLocalFolder(const QString& folder,
                          const std::function<void(const char* name, const struct stat&)>& visit,
                          const std::function<void()>& pump)
{
    const QByteArray native = QFile::encodeName(folder);
    PosixDir dir(native.constData());
    if (!dir)
        return;
    QElapsedTimer sincePump;
    sincePump.start();
    int sinceClockCheck = 0;
    while (const dirent* entry = dir.next()) {
        const char* name = entry->d_name;
        if (!isDotOrDotDot(name)) {
            struct stat st = {};
            // An entry removed since readdir returned it is simply not listed.
            if (fstatat(dir.fd(), name, &st, 0) == 0 ||
                fstatat(dir.fd(), name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                visit(name, st);
        }
        if (pump && ++sinceClockCheck >= kEntriesPerClockCheck) {
            sinceClockCheck = 0;
            if (sincePump.elapsed() >= kPumpIntervalMs) {
                pump();
                sincePump.restart();
            }
        }
    }
}

std::vector<FileListRow> listLocalFolder(const QString& folder, const std::function<void()>& pump)
{
    std::vector<FileListRow> rows;
    FileListRowBuilder builder;
    enumerateLocalFolder(
        folder,
        [&](const char* name, const struct stat& st) {
            const bool isFolder = S_ISDIR(st.st_mode);
            rows.push_back(builder.build(QFile::decodeName(name), isFolder,
                                         isFolder ? 0 : static_cast<qint64>(st.st_size),
                                         FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec)));
        },
        pump);
    return rows;
}
