#include "common/FileSystemError.h"
#include "transfer/LocalFile.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// The rules a transfer applies to names, times and counts, and the local file layer, with
// no server involved.
class TransferNamesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void plainNames_data();
    void plainNames();
    void remoteNameOfUpload_data();
    void remoteNameOfUpload();
    void joinUsesOneSlash_data();
    void joinUsesOneSlash();
    void partialNameStaysWithinNameLimit_data();
    void partialNameStaysWithinNameLimit();
    void elapsedWrapsAtMidnight_data();
    void elapsedWrapsAtMidnight();
    void percentIsTruncatedAndCapped_data();
    void percentIsTruncatedAndCapped();
    void readerHandsOutBlocksUntilTheEnd();
    void readerRefusesMissingFileAndFolder();
    void writerKeepsEveryByteAcrossBufferBoundaries();
    void writerNeverWritesThroughALink();
    void replaceFileSwapsTargetInOneStep();
};

void TransferNamesTest::plainNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plain");
    QTest::newRow("ordinary") << "report.txt" << true;
    QTest::newRow("hidden file") << ".profile" << true;
    QTest::newRow("three dots") << "..." << true;
    QTest::newRow("blank inside") << "my file" << true;
    QTest::newRow("backslash is a plain character here") << "a\\b" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("parent path") << "../evil" << false;
    QTest::newRow("absolute path") << "/etc/passwd" << false;
    QTest::newRow("trailing slash") << "dir/" << false;
    QTest::newRow("NUL") << QString("a") + QChar(0) + "b" << false;
}

void TransferNamesTest::plainNames()
{
    QFETCH(QString, name);
    QFETCH(bool, plain);
    QCOMPARE(IsPlainName(name), plain);
}

void TransferNamesTest::remoteNameOfUpload_data()
{
    QTest::addColumn<QString>("localPath");
    QTest::addColumn<bool>("lowerCase");
    QTest::addColumn<QString>("remoteName");
    QTest::newRow("kept") << "/home/u/ReadMe.TXT" << false << "ReadMe.TXT";
    QTest::newRow("lowered") << "/home/u/ReadMe.TXT" << true << "readme.txt";
    QTest::newRow("capital outside A-Z keeps its case") << "/x/ÄRGER.Txt" << true << "Ärger.txt";
    QTest::newRow("folder names of the path do not matter") << "/Docs/Read.ME" << true << "read.me";
    QTest::newRow("no folder") << "Plain" << true << "plain";
}

void TransferNamesTest::remoteNameOfUpload()
{
    QFETCH(QString, localPath);
    QFETCH(bool, lowerCase);
    QFETCH(QString, remoteName);
    QCOMPARE(RemoteNameFor(localPath, lowerCase), remoteName);
}

void TransferNamesTest::joinUsesOneSlash_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("joined");
    QTest::newRow("root") << "/"
                          << "/name";
    QTest::newRow("folder") << "/home/a"
                            << "/home/a/name";
    QTest::newRow("folder with slash") << "/home/a/"
                                       << "/home/a/name";
}

void TransferNamesTest::joinUsesOneSlash()
{
    QFETCH(QString, folder);
    QFETCH(QString, joined);
    QCOMPARE(JoinLocalPath(folder, "name"), joined);
}

void TransferNamesTest::partialNameStaysWithinNameLimit_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("short") << "a.txt";
    QTest::newRow("255 ASCII bytes") << QString(255, 'x');
    QTest::newRow("multi-byte characters") << QString(120, QChar(0x00E9));
    QTest::newRow("characters outside the BMP") << QString::fromUcs4(U"😀").repeated(63);
}

void TransferNamesTest::partialNameStaysWithinNameLimit()
{
    QFETCH(QString, name);
    const QString partial = PartialDownloadName(name);
    QVERIFY(partial.endsWith(kPartialSuffix));
    QVERIFY(QFile::encodeName(partial).size() <= 255);
    QVERIFY(name.startsWith(partial.chopped(qsizetype(strlen(kPartialSuffix)))));
    // A surrogate pair is never split: the name still round-trips through UTF-8.
    QCOMPARE(QString::fromUtf8(partial.toUtf8()), partial);
}

void TransferNamesTest::elapsedWrapsAtMidnight_data()
{
    QTest::addColumn<qint64>("startMs");
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<double>("seconds");
    const qint64 day = 86'400'000;
    QTest::newRow("same moment") << qint64(1000) << qint64(1000) << 0.0;
    QTest::newRow("milliseconds dropped") << qint64(0) << qint64(1999) << 1.0;
    QTest::newRow("one hour") << qint64(3'600'000) << qint64(7'200'000) << 3600.0;
    QTest::newRow("across midnight") << day - 5000 << qint64(3000) << 8.0;
    QTest::newRow("last second of a day") << qint64(0) << day - 1 << 86399.0;
}

void TransferNamesTest::elapsedWrapsAtMidnight()
{
    QFETCH(qint64, startMs);
    QFETCH(qint64, nowMs);
    QFETCH(double, seconds);
    QCOMPARE(ElapsedSecondsBetween(startMs, nowMs), seconds);
}

void TransferNamesTest::percentIsTruncatedAndCapped_data()
{
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percent");
    QTest::newRow("worked example") << qint64(4096) << qint64(10000) << 40;
    QTest::newRow("last block") << qint64(10000) << qint64(10000) << 100;
    QTest::newRow("just short of the end") << qint64(9999) << qint64(10000) << 99;
    QTest::newRow("grew on the server") << qint64(20000) << qint64(10000) << 100;
    QTest::newRow("listed as empty") << qint64(10) << qint64(0) << 100;
    QTest::newRow("past 2 GiB") << qint64(3) * 1024 * 1024 * 1024 << qint64(6) * 1024 * 1024 * 1024
                                << 50;
    QTest::newRow("past 4 GiB") << qint64(5) * 1024 * 1024 * 1024 - 1
                                << qint64(5) * 1024 * 1024 * 1024 << 99;
}

void TransferNamesTest::percentIsTruncatedAndCapped()
{
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(int, percent);
    QCOMPARE(TransferPercent(done, total), percent);
}

void TransferNamesTest::readerHandsOutBlocksUntilTheEnd()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data");
    QByteArray content(300 * 1024 + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char(i * 31 % 251);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    LocalFileReader reader(path);
    QCOMPARE(reader.size(), content.size());
    QByteArray read;
    int blocks = 0;
    for (auto block = reader.next(4096); !block.empty(); block = reader.next(4096)) {
        QVERIFY(block.size() <= 4096);
        read.append(block.data(), qsizetype(block.size()));
        ++blocks;
    }
    QCOMPARE(read, content);
    QVERIFY(blocks >= 76); // 300 KiB + 7 in blocks of at most 4 KiB
}

void TransferNamesTest::readerRefusesMissingFileAndFolder()
{
    QTemporaryDir dir;
    try {
        LocalFileReader reader(dir.filePath("missing"));
        QFAIL("a missing file was opened");
    } catch (const FileSystemError& error) {
        QCOMPARE(error.text(), QStringLiteral("File not found"));
    }
    QVERIFY_THROWS_EXCEPTION(FileSystemError, LocalFileReader reader(dir.path()));
}

void TransferNamesTest::writerKeepsEveryByteAcrossBufferBoundaries()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out");
    QByteArray expected;
    {
        const LocalDirectory folder(dir.path());
        LocalFileWriter writer(folder, "out");
        // Small blocks, a block larger than the buffer, and small blocks again.
        for (int i = 0; i < 100; ++i) {
            const QByteArray block(4096, char('a' + i % 26));
            writer.write(block.constData(), block.size());
            expected += block;
        }
        const QByteArray big(600 * 1024, 'Z');
        writer.write(big.constData(), big.size());
        expected += big;
        writer.write("tail", 4);
        expected += "tail";
        writer.commitAs("out");
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TransferNamesTest::writerNeverWritesThroughALink()
{
    QTemporaryDir dir;
    const QString victim = dir.filePath("victim");
    QFile file(victim);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("precious");
    file.close();
    const QString link = dir.filePath("link");
    QVERIFY(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(link).constData()) ==
            0);
    {
        // The writer makes a file of its own beside the link; putting it in place replaces
        // the link itself.
        const LocalDirectory folder(dir.path());
        LocalFileWriter writer(folder, "link");
        QVERIFY(writer.name().startsWith("link."));
        writer.write("new", 3);
        writer.commitAs("link");
    }
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("precious"));
}

void TransferNamesTest::replaceFileSwapsTargetInOneStep()
{
    QTemporaryDir dir;
    const QString source = dir.filePath("new.part");
    const QString target = dir.filePath("file");
    for (const auto& [path, text] : {std::pair{source, "new"}, std::pair{target, "old"}}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    ReplaceFile(source, target);
    QVERIFY(!QFile::exists(source));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("new"));
    QVERIFY_THROWS_EXCEPTION(FileSystemError, ReplaceFile(source, target));
}

QTEST_GUILESS_MAIN(TransferNamesTest)
#include "tst_transfernames.moc"
