#pragma once
// What the tree benchmarks share: wall seconds of a timer, and the count of files and bytes
// under a folder, to check that every run brought the whole tree.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QString>

namespace bench {

inline double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

inline QString treeSummary(const QString& root)
{
    qint64 files = 0, bytes = 0;
    for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        it.next();
        ++files;
        bytes += it.fileInfo().size();
    }
    return QStringLiteral("%1 files, %2 bytes").arg(files).arg(bytes);
}

} // namespace bench
