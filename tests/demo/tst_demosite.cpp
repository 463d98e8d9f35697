// The demo site of ./run: its server, and the site profile and settings it leaves in the data
// folder, read back through the program's own readers so a change in either file's format
// shows up here rather than as a demo that does not connect.
#include "registry.h"
#include "sites/ProfileStore.h"
#include "wininet.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString python()
{
    const QString configured = qEnvironmentVariable("ZULFTP_PYTHON");
    return configured.isEmpty() ? QStringLiteral("/usr/bin/python3") : configured;
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}

QByteArray registryText(HKEY key, const char* name, DWORD& type)
{
    char buffer[512] = {};
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size) !=
        LONG(ERROR_SUCCESS))
        return "<missing>";
    return type == REG_DWORD ? QByteArray::number(*reinterpret_cast<DWORD*>(buffer))
                             : QByteArray(buffer);
}

} // namespace

// Starts the demo server on a data folder that already holds another site and remembered
// window values, the way a second ./run finds it.
class TestDemoSite : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void profileConnectsToTheServer();
    void settingsPointAtTheSiteAndKeepTheRest();
    void serverEndsWithItsStarter();

private:
    QTemporaryDir m_dir;
    QString m_home;
    QString m_local;
    QProcess m_server;
    quint16 m_port = 0;
};

void TestDemoSite::init()
{
    QVERIFY(m_dir.isValid());
    m_home = m_dir.path() + "/home";
    m_local = m_dir.path() + "/local";
    const QString root = m_dir.path() + "/remote";
    QVERIFY(QDir().mkpath(m_home) && QDir().mkpath(m_local) && QDir().mkpath(root));
    writeFile(root + "/Release Notes.txt", "notes\n");
    writeFile(m_home + "/zulftp.ini", "[Mine]\nHost=example.org\n\n[local DEMO]\nPort=1\n");
    writeFile(m_home + "/zulftp.reg",
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarnwick\\ZUL-FTP]\n"
              "\"Last Width\"=dword:00000300\n\"lastsite\"=\"Mine\"\n"
              "\"AutoConnect\"=dword:00000000\n");
    qputenv("ZULFTP_HOME", m_home.toUtf8());

    m_server.start(python(), {ZUL_SOURCE_DIR "/scripts/demo-server.py", "--root", root, "--home",
                              m_home, "--local", m_local});
    QVERIFY(m_server.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 15000);
    bool ok = false;
    m_port = quint16(m_server.readLine().trimmed().toUInt(&ok));
    QVERIFY(ok && m_port != 0);
}

void TestDemoSite::cleanup()
{
    m_server.closeWriteChannel();
    if (!m_server.waitForFinished(5000))
        m_server.kill();
    m_server.waitForFinished(5000);
}

void TestDemoSite::profileConnectsToTheServer()
{
    const ProfileStore store(ProfileFilePath());
    QCOMPARE(store.siteNames(), QStringList({"Mine", "Local demo"}));
    QCOMPARE(store.read("Mine").host, QString("example.org"));
    const SiteProfile site = store.read("Local demo");
    QCOMPARE(site.host, QString("127.0.0.1"));
    QCOMPARE(site.port, QString::number(m_port));
    QCOMPARE(site.userID, QString("anonymous"));
    QCOMPARE(site.password, QString());
    QCOMPARE(site.directory, QString("/"));
    QCOMPARE(site.encryption, QString(kEncryptionNone));

    // Log on exactly as the program does with this profile, and list the sample tree.
    HINTERNET internet = InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    QVERIFY(internet);
    HINTERNET connection = InternetConnectA(internet, "127.0.0.1", m_port, "anonymous", "",
                                            INTERNET_SERVICE_FTP, 0, 0);
    QVERIFY2(connection, QByteArray::number(GetLastError()).constData());
    QVERIFY(FtpSetCurrentDirectoryA(connection, "/"));
    WIN32_FIND_DATAA data;
    HINTERNET find = FtpFindFirstFileA(connection, nullptr, &data, INTERNET_FLAG_RELOAD, 0);
    QVERIFY(find);
    QCOMPARE(QByteArray(data.cFileName), QByteArray("Release Notes.txt"));
    InternetCloseHandle(find);
    InternetCloseHandle(connection);
    InternetCloseHandle(internet);
}

void TestDemoSite::settingsPointAtTheSiteAndKeepTheRest()
{
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Software\\Tarnwick\\ZUL-FTP", 0, KEY_READ, &key),
             LONG(ERROR_SUCCESS));
    DWORD type = 0;
    QCOMPARE(registryText(key, "LastSite", type), QByteArray("Local demo"));
    QCOMPARE(type, REG_SZ);
    QCOMPARE(registryText(key, "AutoConnect", type), QByteArray("1"));
    QCOMPARE(type, REG_DWORD);
    QCOMPARE(registryText(key, "DefaultLocalPath", type), (m_local + '/').toUtf8());
    QCOMPARE(registryText(key, "Last Width", type), QByteArray("768"));
    RegCloseKey(key);
}

void TestDemoSite::serverEndsWithItsStarter()
{
    m_server.closeWriteChannel();
    QVERIFY(m_server.waitForFinished(5000));
    QCOMPARE(m_server.exitStatus(), QProcess::NormalExit);
}

QTEST_GUILESS_MAIN(TestDemoSite)
#include "tst_demosite.moc"
