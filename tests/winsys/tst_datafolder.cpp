// Where the data folder is, and the shared atomic replace it offers both stores.
#include "datafolder.h"
#include "lasterror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestDataFolder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { qunsetenv("ZULFTP_HOME"); }

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
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
