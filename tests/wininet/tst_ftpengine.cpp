#include "FtpServerFixture.h"
#include "InternetTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

// The engine against a real FTP server on loopback, in every data-connection mode the
// program can end up in, with and without MLSD.
class TestFtpEngine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    FtpServerFixture m_server;
    Connection m_connection;

    static void addModeRows()
    {
        QTest::addColumn<bool>("mlsd");
        QTest::addColumn<bool>("activeOnly");
        QTest::addColumn<bool>("passiveFlag");
        QTest::newRow("passive, MLSD") << true << false << false;
        QTest::newRow("passive, LIST") << false << false << false;
        QTest::newRow("active fallback, MLSD") << true << true << false;
        QTest::newRow("active fallback, LIST") << false << true << false;
        QTest::newRow("passive flag") << true << false << true;
    }

    // Starts the server for the current row and logs on.
    bool startAndConnect(bool readOnly = false)
    {
        FtpServerFixture::Options options;
        options.readOnly = readOnly;
        DWORD flags = 0;
        if (QTest::currentDataTag()) {
            QFETCH(bool, mlsd);
            QFETCH(bool, activeOnly);
            QFETCH(bool, passiveFlag);
            options.mlsd = mlsd;
            options.activeOnly = activeOnly;
            options.passiveOnly = passiveFlag;
            flags = passiveFlag ? INTERNET_FLAG_PASSIVE : 0;
        }
        if (!m_server.start(m_root.path(), options))
            return false;
        m_connection = connectTo(m_server.port(), "user", "secret", flags);
        return bool(m_connection.connect);
    }

    HINTERNET connection() const { return m_connection.connect.get(); }

    QByteArray fileOnServer(const QString& name) const
    {
        QFile file(m_root.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    void writeOnServer(const QString& name, const QByteArray& data) const
    {
        QFile file(m_root.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

private Q_SLOTS:
    void initTestCase() { shortenTimeouts(10000); }

    void init()
    {
        QVERIFY(m_root.isValid());
        QDir root(m_root.path());
        for (const QString& entry : root.entryList(QDir::NoDotAndDotDot | QDir::AllEntries))
            QVERIFY(QFileInfo(root.filePath(entry)).isDir()
                        ? QDir(root.filePath(entry)).removeRecursively()
                        : root.remove(entry));
    }

    void cleanup()
    {
        m_connection = Connection();
        m_server.stop();
    }

    void uploadsAndDownloadsAreByteExact_data() { addModeRows(); }
    void uploadsAndDownloadsAreByteExact()
    {
        QVERIFY(startAndConnect());
        for (const qsizetype size : {0, 1, 4096, 4097, 3 * 1024 * 1024 + 5}) {
            const QByteArray data = patternBytes(size);
            const QByteArray name = "file" + QByteArray::number(size) + ".bin";
            QVERIFY2(uploadAll(connection(), name.constData(), data),
                     qPrintable(QString("upload %1: %2").arg(size).arg(GetLastError())));
            QCOMPARE(fileOnServer(name), data);
            QByteArray back;
            QVERIFY2(downloadAll(connection(), name.constData(), back),
                     qPrintable(QString("download %1: %2").arg(size).arg(GetLastError())));
            QCOMPARE(back.size(), data.size());
            QVERIFY(back == data);
        }
    }

    void uploadReplacesAnExistingFile()
    {
        QVERIFY(startAndConnect());
        writeOnServer("same.txt", QByteArray(10000, 'x'));
        QVERIFY(uploadAll(connection(), "same.txt", "short"));
        QCOMPARE(fileOnServer("same.txt"), QByteArray("short"));
    }

    void directoriesAndNamesWithBlanksAndUtf8_data() { addModeRows(); }
    void directoriesAndNamesWithBlanksAndUtf8()
    {
        QVERIFY(startAndConnect());
        QCOMPARE(currentDirectory(connection()), QString("/"));
        const QByteArray folder = "sub dir \xc3\x9c\xe2\x9c\x93";
        QVERIFY(FtpCreateDirectoryA(connection(), folder.constData()));
        QVERIFY(QFileInfo(m_root.filePath(QString::fromUtf8(folder))).isDir());
        QVERIFY(FtpSetCurrentDirectoryA(connection(), folder.constData()));
        QCOMPARE(currentDirectory(connection()), "/" + QString::fromUtf8(folder));
        QVERIFY(uploadAll(connection(), " lead and trail .txt", "x"));
        QVERIFY(uploadAll(connection(), "caf\xc3\xa9 list.txt", "y"));
        QStringList names = listNames(connection());
        names.sort();
        QCOMPARE(names,
                 QStringList({" lead and trail .txt", QString::fromUtf8("caf\xc3\xa9 list.txt")}));
        QVERIFY(FtpRenameFileA(connection(), "caf\xc3\xa9 list.txt", "renamed file.txt"));
        QVERIFY(FtpDeleteFileA(connection(), " lead and trail .txt"));
        QCOMPARE(listNames(connection()), QStringList({"renamed file.txt"}));
        QVERIFY(FtpSetCurrentDirectoryA(connection(), ".."));
        QCOMPARE(currentDirectory(connection()), QString("/"));
        QVERIFY(FtpSetCurrentDirectoryA(connection(), ("/" + folder).constData()));
        QVERIFY(FtpDeleteFileA(connection(), "renamed file.txt"));
        QVERIFY(FtpSetCurrentDirectoryA(connection(), "/"));
        QVERIFY(FtpRemoveDirectoryA(connection(), folder.constData()));
        QVERIFY(!QFileInfo::exists(m_root.filePath(QString::fromUtf8(folder))));
    }

    void listingGivesSizesTimesAndFolders_data() { addModeRows(); }
    void listingGivesSizesTimesAndFolders()
    {
        QFETCH(bool, mlsd);
        writeOnServer("data.bin", QByteArray(5000, 'd'));
        QFile dataFile(m_root.filePath("data.bin"));
        QVERIFY(dataFile.open(QIODevice::ReadWrite));
        const QDateTime stamp(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
        QVERIFY(dataFile.setFileTime(stamp, QFileDevice::FileModificationTime));
        dataFile.close();
        QVERIFY(QDir(m_root.path()).mkdir("folder"));
        QVERIFY(startAndConnect());

        WIN32_FIND_DATAA entry{};
        OwnedHandle find(FtpFindFirstFileA(connection(), nullptr, &entry, INTERNET_FLAG_RELOAD, 0));
        QVERIFY(find);
        bool sawFile = false;
        bool sawFolder = false;
        do {
            const QByteArray name(entry.cFileName);
            if (name == "data.bin") {
                sawFile = true;
                QCOMPARE(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
                QCOMPARE(entry.nFileSizeHigh, 0u);
                QCOMPARE(entry.nFileSizeLow, 5000u);
                const qint64 ticks = (qint64(entry.ftLastWriteTime.dwHighDateTime) << 32) |
                                     entry.ftLastWriteTime.dwLowDateTime;
                const QDateTime seen =
                    QDateTime::fromSecsSinceEpoch(ticks / 10000000 - 11644473600LL, Qt::UTC);
                // MLSD gives the exact time; "ls -l" shows only the day for old files.
                QCOMPARE(seen, mlsd ? stamp : QDateTime(stamp.date(), QTime(0, 0), Qt::UTC));
            } else if (name == "folder") {
                sawFolder = true;
                QVERIFY(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            }
        } while (InternetFindNextFileA(find.get(), &entry));
        QCOMPARE(GetLastError(), ERROR_NO_MORE_FILES);
        QVERIFY(sawFile);
        QVERIFY(sawFolder);
    }

    void emptyDirectoryGivesNoEntries_data() { addModeRows(); }
    void emptyDirectoryGivesNoEntries()
    {
        QVERIFY(startAndConnect());
        WIN32_FIND_DATAA entry{};
        QVERIFY(!FtpFindFirstFileA(connection(), nullptr, &entry, INTERNET_FLAG_RELOAD, 0));
        QCOMPARE(GetLastError(), ERROR_NO_MORE_FILES);
        QCOMPARE(currentDirectory(connection()), QString("/")); // still usable
    }

    void wrongPasswordIsRefusedWithItsCode()
    {
        QVERIFY(m_server.start(m_root.path()));
        const Connection refused = connectTo(m_server.port(), "user", "wrong");
        QVERIFY(!refused.connect);
        QCOMPARE(refused.error, ERROR_INTERNET_INCORRECT_PASSWORD);
        QVERIFY(lastResponseText().startsWith("530"));
    }

    void emptyPasswordIsSentAndRefusedByThisServer()
    {
        QVERIFY(m_server.start(m_root.path()));
        const Connection refused = connectTo(m_server.port(), "user", "");
        QCOMPARE(refused.error, ERROR_INTERNET_INCORRECT_PASSWORD);
    }

    void openTransferBlocksEveryOtherCall()
    {
        writeOnServer("big.bin", patternBytes(1024 * 1024));
        QVERIFY(startAndConnect());
        OwnedHandle file(FtpOpenFileA(connection(), "big.bin", GENERIC_READ, 2, 0));
        QVERIFY(file);
        char buffer[64];
        DWORD length = sizeof buffer;
        QVERIFY(!FtpGetCurrentDirectoryA(connection(), buffer, &length));
        QCOMPARE(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
        QVERIFY(!FtpOpenFileA(connection(), "big.bin", GENERIC_READ, 2, 0));
        QCOMPARE(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
        WIN32_FIND_DATAA entry{};
        QVERIFY(!FtpFindFirstFileA(connection(), nullptr, &entry, 0, 0));
        QCOMPARE(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
        QVERIFY(!FtpDeleteFileA(connection(), "big.bin"));
        QCOMPARE(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
        QVERIFY(file.close());
        QCOMPARE(currentDirectory(connection()), QString("/"));
    }

    void readHandleClosedHalfwayLeavesConnectionUsable_data() { addModeRows(); }
    void readHandleClosedHalfwayLeavesConnectionUsable()
    {
        writeOnServer("big.bin", patternBytes(32 * 1024 * 1024));
        writeOnServer("small.txt", "small");
        QVERIFY(startAndConnect());
        for (int round = 0; round < 2; ++round) {
            OwnedHandle file(FtpOpenFileA(connection(), "big.bin", GENERIC_READ, 2, 0));
            QVERIFY(file);
            char block[4096];
            DWORD got = 0;
            QVERIFY(InternetReadFile(file.get(), block, sizeof block, &got));
            QCOMPARE(got, 4096u);
            QVERIFY(std::memcmp(block, patternBytes(4096).constData(), 4096) == 0);
            QVERIFY(file.close());
            QCOMPARE(currentDirectory(connection()), QString("/"));
            QByteArray small;
            QVERIFY(downloadAll(connection(), "small.txt", small));
            QCOMPARE(small, QByteArray("small"));
        }
        QCOMPARE(listNames(connection()).size(), 2);
    }

    void abortedUploadLeavesConnectionUsable()
    {
        writeOnServer("small.txt", "small");
        QVERIFY(startAndConnect());
        OwnedHandle file(FtpOpenFileA(connection(), "up.bin", GENERIC_WRITE, 2, 0));
        QVERIFY(file);
        const QByteArray block = patternBytes(4096);
        DWORD written = 0;
        // More than the sockets hold, so the server is busy storing when the abort comes (this
        // server loses track of a data connection that is reset the moment it was accepted).
        for (int i = 0; i < 4096; ++i)
            QVERIFY(InternetWriteFile(file.get(), block.constData(), 4096, &written));
        QVERIFY(FtpAbortFile(file.get()));
        QVERIFY(file.close());
        QCOMPARE(currentDirectory(connection()), QString("/"));
        QByteArray small;
        QVERIFY(downloadAll(connection(), "small.txt", small));
        QCOMPARE(small, QByteArray("small"));
    }

    void deleteWorksWhileAnEnumerationIsOpen()
    {
        writeOnServer("one.txt", "1");
        writeOnServer("two.txt", "2");
        QVERIFY(startAndConnect());
        WIN32_FIND_DATAA entry{};
        OwnedHandle find(FtpFindFirstFileA(connection(), nullptr, &entry, INTERNET_FLAG_RELOAD, 0));
        QVERIFY(find);
        QVERIFY(FtpDeleteFileA(connection(), "two.txt"));
        int entries = 1;
        while (InternetFindNextFileA(find.get(), &entry))
            ++entries;
        QVERIFY(entries >= 2); // the listing was read before the delete
        QVERIFY(!QFileInfo::exists(m_root.filePath("two.txt")));
    }

    void refusedCommandsGiveTheServersText()
    {
        QVERIFY(startAndConnect(true));
        QVERIFY(!FtpOpenFileA(connection(), "new.txt", GENERIC_WRITE, 2, 0));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QVERIFY(lastResponseText().startsWith("550"));
        QVERIFY(!FtpOpenFileA(connection(), "missing.txt", GENERIC_READ, 2, 0));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QVERIFY(!FtpSetCurrentDirectoryA(connection(), "no such folder"));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QVERIFY(!FtpCreateDirectoryA(connection(), "x"));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QVERIFY(!FtpRenameFileA(connection(), "missing.txt", "other.txt"));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QCOMPARE(currentDirectory(connection()), QString("/"));
    }

    void ipv6TransfersAndListings_data()
    {
        QTest::addColumn<bool>("activeOnly");
        QTest::addColumn<QByteArray>("host");
        QTest::newRow("passive (EPSV)") << false << QByteArray("::1");
        QTest::newRow("active (EPRT)") << true << QByteArray("::1");
        QTest::newRow("bracketed") << false << QByteArray("[::1]");
    }
    void ipv6TransfersAndListings()
    {
        QFETCH(bool, activeOnly);
        QFETCH(QByteArray, host);
        FtpServerFixture::Options options;
        options.ipv6 = true;
        options.activeOnly = activeOnly;
        QVERIFY(m_server.start(m_root.path(), options));
        m_connection = connectTo(m_server.port(), "user", "secret", 0, host.constData());
        QVERIFY2(m_connection.connect, qPrintable(QString::number(m_connection.error)));
        const QByteArray data = patternBytes(70000);
        QVERIFY(uploadAll(connection(), "six.bin", data));
        QByteArray back;
        QVERIFY(downloadAll(connection(), "six.bin", back));
        QVERIFY(back == data);
        QCOMPARE(listNames(connection()), QStringList({"six.bin"}));
    }

    void wildcardSearchKeepsMatchingNames()
    {
        writeOnServer("a.txt", "1");
        writeOnServer("b.txt", "2");
        writeOnServer("c.bin", "3");
        QVERIFY(startAndConnect());
        QStringList names;
        WIN32_FIND_DATAA entry{};
        OwnedHandle find(FtpFindFirstFileA(connection(), "*.txt", &entry, INTERNET_FLAG_RELOAD, 0));
        QVERIFY(find);
        do
            names << QString::fromUtf8(entry.cFileName);
        while (InternetFindNextFileA(find.get(), &entry));
        names.sort();
        QCOMPARE(names, QStringList({"a.txt", "b.txt"}));
        QVERIFY(!FtpFindFirstFileA(connection(), "*.none", &entry, 0, 0));
        QCOMPARE(GetLastError(), ERROR_NO_MORE_FILES);
    }

    void closingTheServiceClosesItsConnections()
    {
        QVERIFY(startAndConnect());
        const HINTERNET connect = connection();
        QVERIFY(m_connection.internet.close());
        char buffer[64];
        DWORD length = sizeof buffer;
        QVERIFY(!FtpGetCurrentDirectoryA(connect, buffer, &length));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        QVERIFY(!InternetCloseHandle(connect));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        m_connection.connect.release(); // already gone with its parent
    }
};

QTEST_GUILESS_MAIN(TestFtpEngine)
#include "tst_ftpengine.moc"
