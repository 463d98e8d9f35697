// The installed program: what `cmake --install` (and so the package) puts where, and that the
// installed executable starts, keeps its data in the user's configuration folder and writes
// nothing beside itself.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

class TestInstallTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void installsProgramHelpEntryAndIcon();
    void installedProgramKeepsDataInConfigFolder();

private:
    QTemporaryDir m_dir;
    QString m_stage; // DESTDIR
    QString m_prefix;
};

void TestInstallTree::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_stage = m_dir.filePath(QStringLiteral("stage"));
    m_prefix = m_stage + QStringLiteral("/usr");
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), m_stage);
    install.setProcessEnvironment(env);
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(ZUL_CMAKE),
                  {QStringLiteral("--install"), QStringLiteral(ZUL_BUILD_DIR),
                   QStringLiteral("--prefix"), QStringLiteral("/usr")});
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
}

void TestInstallTree::installsProgramHelpEntryAndIcon()
{
    const QStringList expected = {
        QStringLiteral("bin/zulftp"),
        QStringLiteral("share/zulftp/zulftp.hlp"),
        QStringLiteral("share/applications/zulftp.desktop"),
        QStringLiteral("share/icons/hicolor/scalable/apps/zulftp.svg"),
    };
    for (const QString& file : expected)
        QVERIFY2(QFile::exists(m_prefix + QLatin1Char('/') + file), qPrintable(file));
    QVERIFY(QFileInfo(m_prefix + QStringLiteral("/bin/zulftp")).isExecutable());
    // Nothing but the program among the system's executables.
    QCOMPARE(QDir(m_prefix + QStringLiteral("/bin")).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("zulftp")});

    // The menu entry starts the installed command with the installed icon.
    QFile entry(m_prefix + QStringLiteral("/share/applications/zulftp.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    QVERIFY(text.contains("\nExec=zulftp\n"));
    QVERIFY(text.contains("\nIcon=zulftp\n"));

    // The installed copy still carries the project's version, and says it without a display.
    QProcess version;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    version.setProcessEnvironment(env);
    version.start(m_prefix + QStringLiteral("/bin/zulftp"), {QStringLiteral("--version")});
    QVERIFY(version.waitForFinished(30000));
    QCOMPARE(version.exitCode(), 0);
    QCOMPARE(version.readAllStandardOutput(), QByteArray("ZUL-FTP " ZUL_VERSION "\n"));
}

void TestInstallTree::installedProgramKeepsDataInConfigFolder()
{
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString config = m_dir.filePath(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(home));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("ZULFTP_HOME"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(m_prefix + QStringLiteral("/bin/zulftp"), {});
    QVERIFY(program.waitForStarted(10000));
    // The main window reads its settings while it is made, which creates the data folder.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(config + QStringLiteral("/zulftp")).isDir(), 30000);
    QCOMPARE(program.state(), QProcess::Running);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));

    QCOMPARE(QFileInfo(config + QStringLiteral("/zulftp")).permissions() & QFile::ReadOther,
             QFileDevice::Permissions());
    QCOMPARE(QDir(m_prefix + QStringLiteral("/bin")).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("zulftp")});
}

QTEST_GUILESS_MAIN(TestInstallTree)
#include "tst_installtree.moc"
