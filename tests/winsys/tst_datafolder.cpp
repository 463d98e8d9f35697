// Where the data folder is, and the shared atomic replace it offers both stores.
#include "datafolder.h"
#include "lasterror.h"
#include "profile.h"
#include "registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

LONG setSetting(const char* name)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    const DWORD value = 1;
    rc = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
    RegCloseKey(key);
    return rc;
}

} // namespace

class TestDataFolder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        qunsetenv("ZULFTP_HOME");
        setFolderLockWaitMs(kDefaultFolderLockWaitMs);
    }

    void environmentNamesTheFolder()
    {
        QTemporaryDir dir;
        const QString home = dir.path() + "/not/yet";
        qputenv("ZULFTP_HOME", home.toUtf8());
        QCOMPARE(QString::fromStdString(GetDataFolder()), home + "/");
        QVERIFY(QFileInfo(home).isDir()); // created when missing
    }

    void portableCopyKeepsItsDataBesideItself()
    {
        qunsetenv("ZULFTP_HOME");
        const QString exeFolder = QCoreApplication::applicationDirPath() + "/";
        QCOMPARE(QString::fromStdString(GetExecutableFolder()), exeFolder);
        QCOMPARE(QString::fromStdString(GetDataFolder()), exeFolder); // the build folder is ours
    }

    void replaceWritesThroughALink()
    {
        QTemporaryDir dir;
        const QString target = dir.path() + "/real.ini";
        const QString link = dir.path() + "/zulftp.ini";
        QFile::remove(target);
        QVERIFY(QFile::link(target, link));
        QVERIFY(ReplaceFileContents(link.toStdString(), "[A]\n"));
        QVERIFY(QFileInfo(link).isSymLink());
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[A]\n"));
    }

    void failedReplaceLeavesTheOldFile()
    {
        QTemporaryDir dir;
        const std::string missingFolder = dir.path().toStdString() + "/gone/zulftp.ini";
        QVERIFY(!ReplaceFileContents(missingFolder, "x"));
        QCOMPARE(GetLastError(), ERROR_FILE_NOT_FOUND);
        // A folder where the file should be: the rename fails and the folder stays.
        const QString path = dir.path() + "/zulftp.reg";
        QVERIFY(QDir().mkdir(path));
        QVERIFY(!ReplaceFileContents(path.toStdString(), "x"));
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }

    // The profile file holds passwords: owner-only after every write, however the file was
    // made. A writer of either store waits for another process's lock only so long.
    void profileIsOwnerOnlyAndLockWaitsHaveADeadline()
    {
        QTemporaryDir dir;
        qputenv("ZULFTP_HOME", dir.path().toUtf8());
        const std::string ini = dir.path().toStdString() + "/zulftp.ini";
        QVERIFY(WritePrivateProfileStringA("Site", "Host", "h", ini.c_str()));
        QVERIFY(::chmod(ini.c_str(), 0644) == 0);
        QVERIFY(WritePrivateProfileStringA("Site", "Password", "secret", ini.c_str()));
        QCOMPARE(modeOf(ini), mode_t{0600});

        // Another process's lock: a lock taken on another open of the folder conflicts
        // even within one process.
        setFolderLockWaitMs(300);
        const int held = ::open(dir.path().toUtf8().constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        QElapsedTimer waited;
        waited.start();
        QVERIFY(!WritePrivateProfileStringA("Site", "Port", "21", ini.c_str()));
        QCOMPARE(GetLastError(), ERROR_LOCK_VIOLATION);
        QCOMPARE(setSetting("Third"), LONG{ERROR_LOCK_VIOLATION});
        QVERIFY(waited.elapsed() >= 600 && waited.elapsed() < 5000);
        ::close(held);
        QVERIFY(WritePrivateProfileStringA("Site", "Port", "21", ini.c_str()));
    }
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
