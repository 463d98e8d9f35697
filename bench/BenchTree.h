#pragma once
// What the tree benchmarks share: wall seconds of a timer, the count of files and bytes under
// a folder (to check that every run brought the whole tree), and a peer tool's run time.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>

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

// Runs `program` to its end: the seconds it took, or -1 (said on stdout) when it failed.
inline double runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::printf("%s failed: %s\n", qPrintable(program),
                    process.readAllStandardError().constData());
        return -1;
    }
    return seconds(timer);
}

} // namespace bench
