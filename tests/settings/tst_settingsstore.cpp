// The settings store against a stand-in main window: first-run defaults, kept values, the
// placement rules, negative sort codes, wrong types, and a damaged file left alone.
#include "ScriptedPrompter.h"
#include "app/SettingsStore.h"
#include "common/SortState.h"
#include "registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// What the settings store sees of the main window.
class FakeHost final : public SettingsHost
{
public:
    QString title = "untouched";
    bool large = false;
    bool small = false;
    WindowPlacement placement{10, 20, 800, 600, WindowShowState::Normal};
    ColumnWidths remote{101, 71, 121};
    ColumnWidths local{102, 72, 122};
    int folders = 161;
    int pane = 301;

    void setMainTitle(const QString& text) override { title = text; }
    bool largeButtonsChecked() const override { return large; }
    void setLargeButtonsChecked(bool checked) override { large = checked; }
    bool smallButtonsChecked() const override { return small; }
    void setSmallButtonsChecked(bool checked) override { small = checked; }
    WindowPlacement windowPlacement() const override { return placement; }
    ColumnWidths remoteColumnWidths() const override { return remote; }
    ColumnWidths localColumnWidths() const override { return local; }
    int folderPanelWidth() const override { return folders; }
    int localPaneWidth() const override { return pane; }
};

class Key
{
public:
    Key()
    {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &m_key, nullptr);
    }
    ~Key() { RegCloseKey(m_key); }
    void setDword(const char* name, DWORD value)
    {
        RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    }
    void setText(const char* name, const QByteArray& text, DWORD type = REG_SZ)
    {
        RegSetValueExA(m_key, name, 0, type, reinterpret_cast<const BYTE*>(text.constData()),
                       static_cast<DWORD>(text.size() + 1));
    }
    bool has(const char* name)
    {
        return RegQueryValueExA(m_key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
    DWORD dword(const char* name)
    {
        DWORD value = 0xDEADBEEF;
        DWORD size = 4;
        RegQueryValueExA(m_key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size);
        return value;
    }

private:
    HKEY m_key = nullptr;
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Lets no file grow past its present size, like a full disk, even for root.
class FullDisk
{
public:
    explicit FullDisk(rlim_t size)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = size;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FullDisk() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old = {};
};

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir* m_home = nullptr;
    QString m_file;
    ScriptedPrompter m_prompter;
    FakeHost m_host;

private Q_SLOTS:
    void init()
    {
        m_home = new QTemporaryDir;
        qputenv("ZULFTP_HOME", m_home->path().toUtf8());
        m_file = m_home->path() + "/zulftp.reg";
        Settings = {};
        RemoteSort = 1;
        LocalSort = 0;
        m_host = FakeHost{};
        m_prompter.reset();
        ResetSettingsMessages();
    }
    void cleanup()
    {
        QVERIFY(m_prompter.verifyDone());
        delete m_home;
        m_home = nullptr;
    }

    void firstRunGivesTheDefaults()
    {
        Settings.LastLocalSort = 5; // kept values keep what they hold
        m_host.small = true;
        QVERIFY(LoadSettings(m_host, m_prompter));
        QCOMPARE(Settings.LastSite, QString());
        QCOMPARE(Settings.DefaultLocalPath, QDir::homePath() + "/");
        QCOMPARE(Settings.LastRemoteSort, 1);
        QCOMPARE(Settings.LastLocalSort, 5);
        QCOMPARE(Settings.LocalFoldersWidth, 160);
        QCOMPARE(Settings.LocalFilesWidth, 380);
        QCOMPARE(Settings.LastRemoteColWidths, (ColumnWidths{0, 0, 0}));
        QCOMPARE(Settings.LastLocalColWidths, (ColumnWidths{0, 0, 0}));
        QVERIFY(m_host.large);
        QVERIFY(m_host.small);
        QCOMPARE(m_host.title, QString("ZUL-FTP - "));
        const StartupPlacement placement = ReadStartupPlacement(m_prompter);
        QVERIFY(!placement.position && !placement.size && !placement.state);
        QVERIFY(!QFile::exists(m_file)); // reading creates nothing
    }

    void saveThenLoadGivesTheSameValues()
    {
        RemoteSort = -2;
        LocalSort = -4;
        m_host.large = false;
        m_host.small = true;
        QVERIFY(SaveSettings(m_host, m_prompter));
        QVERIFY(readFile(m_file).contains("\"LastRemoteSort\"=dword:fffffffe"));
        QVERIFY(WriteConfigureOptions(" Home ", "/srv/files/", true, true, m_prompter));

        FakeHost fresh;
        fresh.large = true;
        QVERIFY(LoadSettings(fresh, m_prompter));
        QCOMPARE(Settings.LastRemoteSort, -2);
        QCOMPARE(Settings.LastLocalSort, -4);
        QCOMPARE(Settings.LastRemoteColWidths, m_host.remote);
        QCOMPARE(Settings.LastLocalColWidths, m_host.local);
        QCOMPARE(Settings.LocalFoldersWidth, 161);
        QCOMPARE(Settings.LocalFilesWidth, 301);
        QVERIFY(!fresh.large);
        QVERIFY(fresh.small);
        QCOMPARE(Settings.LastSite, QString(" Home "));
        QCOMPARE(fresh.title, QString("ZUL-FTP -  Home "));
        QCOMPARE(Settings.DefaultLocalPath, QString("/srv/files/"));
        QVERIFY(Settings.LowerCaseUpload && Settings.AutoConnect);
        const StartupPlacement placement = ReadStartupPlacement(m_prompter);
        QCOMPARE(placement.position.value_or(QPoint()), QPoint(10, 20));
        QCOMPARE(placement.size.value_or(QSize()), QSize(800, 600));
        QVERIFY(placement.state == WindowShowState::Normal);
    }

    void valuesAreWrittenInTheirOrder()
    {
        QVERIFY(SaveSettings(m_host, m_prompter));
        QVERIFY(WriteConfigureOptions("s", "/", false, false, m_prompter));
        // A new value goes to the end of its key in the file, so the file shows the order.
        QStringList order;
        for (const QByteArray& line : readFile(m_file).split('\n'))
            if (line.startsWith('"'))
                order << QString::fromUtf8(line.mid(1, line.indexOf('"', 1) - 1));
        QCOMPARE(order, QStringList(
                            {"Last X-Pos",           "Last Y-Pos",           "Last Width",
                             "Last Height",          "Last Window State",    "LastRemoteSort",
                             "LastRemoteColWidths0", "LastRemoteColWidths1", "LastRemoteColWidths2",
                             "LastLocalSort",        "LastLocalColWidths0",  "LastLocalColWidths1",
                             "LastLocalColWidths2",  "LocalFoldersWidth",    "LocalFilesWidth",
                             "LargeButtons",         "SmallButtons",         "LastSite",
                             "DefaultLocalPath",     "LowerCaseUpload",      "AutoConnect"}));
    }

    void placementIsWrittenOnlyInItsStates_data()
    {
        QTest::addColumn<WindowShowState>("state");
        QTest::addColumn<bool>("bounds");
        QTest::addColumn<DWORD>("storedState");
        QTest::newRow("normal") << WindowShowState::Normal << true << DWORD{0};
        QTest::newRow("maximised") << WindowShowState::Maximized << false << DWORD{2};
        QTest::newRow("minimised") << WindowShowState::Minimized << false << DWORD{7};
    }
    void placementIsWrittenOnlyInItsStates()
    {
        QFETCH(WindowShowState, state);
        QFETCH(bool, bounds);
        QFETCH(DWORD, storedState);
        {
            Key key; // what an earlier close in the normal state left
            for (const char* name : {"Last X-Pos", "Last Y-Pos", "Last Width", "Last Height"})
                key.setDword(name, 5);
            key.setDword("Last Window State", 7);
        }
        m_host.placement.state = state;
        QVERIFY(SaveSettings(m_host, m_prompter));
        Key key;
        QCOMPARE(key.dword("Last X-Pos"), bounds ? DWORD{10} : DWORD{5});
        QCOMPARE(key.dword("Last Height"), bounds ? DWORD{600} : DWORD{5});
        QCOMPARE(key.dword("Last Window State"), storedState);
    }

    void placementAppliesOnlyInPairs_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<bool>("position");
        QTest::addColumn<bool>("size");
        QTest::newRow("x without y")
            << QStringList{"Last X-Pos", "Last Width", "Last Height"} << false << true;
        QTest::newRow("y without x") << QStringList{"Last Y-Pos"} << false << false;
        QTest::newRow("width without height")
            << QStringList{"Last X-Pos", "Last Y-Pos", "Last Width"} << true << false;
        QTest::newRow("height without width") << QStringList{"Last Height"} << false << false;
    }
    void placementAppliesOnlyInPairs()
    {
        QFETCH(QStringList, stored);
        QFETCH(bool, position);
        QFETCH(bool, size);
        {
            Key key;
            for (const QString& name : stored)
                key.setDword(name.toUtf8().constData(), 300);
            key.setDword("Last Window State", 2);
        }
        const StartupPlacement placement = ReadStartupPlacement(m_prompter);
        QCOMPARE(placement.position.has_value(), position);
        QCOMPARE(placement.size.has_value(), size);
        QVERIFY(placement.state == WindowShowState::Maximized);
    }

    void absentValuesResetOrKeep()
    {
        Settings.LastSite = "Old";
        Settings.LastRemoteSort = 3;
        Settings.LocalFilesWidth = 999;
        Settings.LastLocalSort = 2;
        Settings.LowerCaseUpload = true;
        Settings.AutoConnect = true;
        m_host.large = false;
        m_host.small = true;
        {
            Key key;
            key.setText("DefaultLocalPath", " \t ");
        }
        QVERIFY(LoadSettings(m_host, m_prompter));
        QCOMPARE(Settings.LastSite, QString());
        QCOMPARE(Settings.LastRemoteSort, 1);
        QCOMPARE(Settings.LocalFilesWidth, 380);
        QVERIFY(m_host.large);
        QCOMPARE(Settings.LastLocalSort, 2);
        QVERIFY(Settings.LowerCaseUpload && Settings.AutoConnect && m_host.small);
        QCOMPARE(Settings.DefaultLocalPath, QDir::homePath() + "/");
    }

    void textAndFlagsReadAsStored()
    {
        {
            Key key;
            key.setText("DefaultLocalPath", "$HOME/x", REG_EXPAND_SZ); // taken as it stands
            key.setText("LastSite", "  ");
            key.setDword("AutoConnect", 7); // any non-zero value is true
        }
        QVERIFY(LoadSettings(m_host, m_prompter));
        QCOMPARE(Settings.DefaultLocalPath, QString("$HOME/x"));
        QCOMPARE(m_host.title, QString("ZUL-FTP -   "));
        QVERIFY(Settings.AutoConnect);
        const ConfigureOptions options = ReadConfigureOptions(m_prompter);
        QCOMPARE(options.lastSite.value_or("absent"), QString("  "));
        QVERIFY(options.autoConnect.value_or(false));
        QVERIFY(!options.lowerCaseUpload.has_value());
    }

    void wrongTypeIsReportedOnce_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("text");
        QTest::newRow("text as number") << QByteArray("LastSite") << false;
        QTest::newRow("number as text") << QByteArray("LastRemoteSort") << true;
        QTest::newRow("flag as text") << QByteArray("SmallButtons") << true;
    }
    void wrongTypeIsReportedOnce()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, text);
        {
            Key key;
            if (text)
                key.setText(name, "5");
            else
                key.setDword(name, 5);
            key.setDword("AutoConnect", 1); // read after the bad one
        }
        m_prompter.expectMessage(QString("Invalid data type for '%1'").arg(name));
        QVERIFY(!LoadSettings(m_host, m_prompter));
        QVERIFY(Settings.AutoConnect);
        QCOMPARE(Settings.LastSite, QString());
        QCOMPARE(Settings.LastRemoteSort, 1);
        // The next activation reloads the settings; the box must not come back for ever.
        QVERIFY(!LoadSettings(m_host, m_prompter));
    }

    void damagedFileIsReportedAndNotOverwritten()
    {
        const QByteArray torn = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarnwick\\ZUL-FTP]\n"
                                "\"LastSite\"=\"Ho";
        QFile file(m_file);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(torn);
        file.close();
        m_prompter.expectMessage(QString("The settings file %1 is damaged and cannot be read. It "
                                         "is left as it is; the program uses its default "
                                         "settings until it is repaired or removed.")
                                     .arg(m_file));
        QVERIFY(!LoadSettings(m_host, m_prompter));
        QCOMPARE(m_host.title, QString("ZUL-FTP - "));
        QVERIFY(!LoadSettings(m_host, m_prompter));
        const QString notSaved = QString("The settings file %1 is damaged, so the settings were "
                                         "not saved. It is left as it is for you to repair or "
                                         "remove.")
                                     .arg(m_file);
        m_prompter.expectMessage(notSaved).expectMessage(notSaved);
        QVERIFY(!SaveSettings(m_host, m_prompter));
        QVERIFY(!WriteConfigureOptions("x", "/", true, true, m_prompter));
        QCOMPARE(readFile(m_file), torn);
    }

    void failedWriteStopsWithItsValue()
    {
        {
            Key key;
        }
        m_prompter.expectMessage("Failed to set data for 'Last X-Pos'");
        {
            FullDisk full(static_cast<rlim_t>(readFile(m_file).size()));
            QVERIFY(!SaveSettings(m_host, m_prompter));
        }
        QVERIFY(!Key().has("Last X-Pos"));
        m_prompter.expectMessage("Failed to set data for 'LastSite'");
        {
            FullDisk full(static_cast<rlim_t>(readFile(m_file).size()));
            QVERIFY(!WriteConfigureOptions("x", "/", true, true, m_prompter));
        }
        QVERIFY(!Key().has("LastSite"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
