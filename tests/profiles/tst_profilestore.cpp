// The site profile store against a stand-in dialog: save, overwrite, delete, the scrambled
// password, values the INI format cannot hold as they are, and names it cannot hold at all.
#include "ScriptedPrompter.h"
#include "profile.h"
#include "sites/ProfileStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// The six fields, the sorted site list and the changed flag of the Configure dialog.
class FakeForm final : public SiteProfileForm
{
public:
    explicit FakeForm(const ProfileStore& store) : m_store(store) {}

    SiteProfile fields;
    QStringList items;
    int current = -1;
    bool changed = false;
    int newSiteRuns = 0;

    SiteProfile profileFields() const override { return fields; }
    void setProfileFields(const SiteProfile& f) override
    {
        fields = f;
        changed = true; // the fields' change handlers run
    }
    void setPortField(const QString& port) override
    {
        fields.port = port;
        changed = true;
    }
    QStringList siteNameItems() const override { return items; }
    void clearSiteNameItems() override
    {
        items.clear();
        current = -1;
    }
    void addSiteNameItem(const QString& name) override
    {
        items.append(name);
        std::sort(items.begin(), items.end(), [](const QString& a, const QString& b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
    }
    void removeSiteNameItem(int index) override { items.removeAt(index); }
    QString siteNameText() const override { return current >= 0 ? items[current] : QString(); }
    bool siteChanged() const override { return changed; }
    void setSiteChanged(bool value) override { changed = value; }
    void newSite() override
    {
        ++newSiteRuns;
        current = -1;
        LoadSiteProfile(*this, m_store, QString());
    }

private:
    const ProfileStore& m_store;
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

SiteProfile profile(const QString& name, const QString& password = "pw")
{
    return SiteProfile{name, "ftp.example", "2121", "anna", password, "/pub"};
}

QString rawValue(const QString& file, const char* section, const char* key)
{
    char buffer[1024];
    GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, file.toUtf8().constData());
    return QString::fromUtf8(buffer);
}

} // namespace

class TestProfileStore : public QObject
{
    Q_OBJECT

    QTemporaryDir* m_home = nullptr;
    ScriptedPrompter m_prompter;

    QString file() const { return m_home->path() + "/zulftp.ini"; }

private Q_SLOTS:
    void init()
    {
        m_home = new QTemporaryDir;
        qputenv("ZULFTP_HOME", m_home->path().toUtf8());
        m_prompter.reset();
    }
    void cleanup()
    {
        QVERIFY(m_prompter.verifyDone());
        delete m_home;
        m_home = nullptr;
    }

    void scramblingIsFixedAndItsOwnInverse_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("scrambled");
        // Keys of the base 157: p=1 -> 158, p=2 -> 163, p=3 -> 160, p=4 -> 164.
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("abcd") << QByteArray("abcd") << QByteArray("\xff\xc1\xc3\xc0");
        QTest::newRow("zeros give the keys")
            << QByteArray(4, '\0') << QByteArray("\x9e\xa3\xa0\xa4");
        QTest::newRow("keys wrap past 255") << QByteArray(100, 'x') << QByteArray();
    }
    void scramblingIsFixedAndItsOwnInverse()
    {
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, scrambled);
        const QByteArray out = ScramblePassword(plain);
        QCOMPARE(out.size(), plain.size());
        if (!scrambled.isEmpty() || plain.isEmpty())
            QCOMPARE(out, scrambled);
        if (plain.size() == 100) // position 99 is odd: (99 + 157) mod 256 = 0
            QCOMPARE(out[98], 'x');
        QCOMPARE(ScramblePassword(out), plain);
    }

    void printablePasswordsStayPlain()
    {
        // Every printable 7-bit character in every position of the password field.
        for (int start = 0x20; start < 0x7F; ++start) {
            QByteArray password;
            for (int p = 0; p < 60; ++p)
                password += static_cast<char>(0x20 + (start - 0x20 + p) % 0x5F);
            const QByteArray scrambled = ScramblePassword(password);
            QCOMPARE(EncodeProfileValue(scrambled), scrambled);
        }
    }

    void valuesTheFileCannotHoldAreEscaped_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("escaped");
        QTest::newRow("plain") << QByteArray("ftp.example") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("inner blank and quote") << QByteArray("a \"b' c") << false;
        QTest::newRow("high bytes") << QByteArray("\x80\xff") << false;
        QTest::newRow("percent") << QByteArray("100%") << false;
        QTest::newRow("leading blank") << QByteArray(" a") << true;
        QTest::newRow("trailing blank") << QByteArray("a ") << true;
        QTest::newRow("quoted") << QByteArray("\"a\"") << true;
        QTest::newRow("leading single quote") << QByteArray("'a") << true;
        QTest::newRow("trailing quote") << QByteArray("a\"") << true;
        QTest::newRow("NUL") << QByteArray("a\0b", 3) << true;
        QTest::newRow("line feed") << QByteArray("a\nb") << true;
        QTest::newRow("return") << QByteArray("a\rb") << true;
        QTest::newRow("tab") << QByteArray("a\tb") << true;
        QTest::newRow("looks escaped") << QByteArray("%ESC%41") << true;
    }
    void valuesTheFileCannotHoldAreEscaped()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, escaped);
        const QByteArray stored = EncodeProfileValue(value);
        QCOMPARE(stored != value, escaped);
        QCOMPARE(DecodeProfileValue(stored), value);
        // What goes into the file comes back from it unchanged by the plain rule.
        const QByteArray path = file().toUtf8();
        QVERIFY(WritePrivateProfileStringA("S", "K", stored.constData(), path.constData()));
        char buffer[1024];
        GetPrivateProfileStringA("S", "K", "", buffer, sizeof buffer, path.constData());
        QCOMPARE(QByteArray(buffer), stored);
    }

    void everyByteInEveryPositionComesBack()
    {
        // 255 passwords of 60 bytes: together they hold each byte 1-255 in each position.
        const ProfileStore store(file());
        const QByteArray path = file().toUtf8();
        for (int shift = 0; shift < 255; ++shift) {
            QByteArray password;
            for (int p = 0; p < 60; ++p)
                password += static_cast<char>(1 + (shift + p) % 255);
            const QByteArray stored = EncodeProfileValue(ScramblePassword(password));
            QVERIFY(WritePrivateProfileStringA("Site", "Password", stored.constData(),
                                               path.constData()));
            char buffer[1024];
            GetPrivateProfileStringA("Site", "Password", "", buffer, sizeof buffer,
                                     path.constData());
            QCOMPARE(ScramblePassword(DecodeProfileValue(QByteArray(buffer))), password);
        }
        // And through the store's own save and load, as characters U+0001 to U+00FF.
        for (int shift = 0; shift < 255; shift += 17) {
            QString password;
            for (int p = 0; p < 60; ++p)
                password += QChar(1 + (shift + p) % 255);
            QVERIFY(store.write(profile("Site", password)));
            QCOMPARE(store.read("Site").password, password);
        }
    }

    void blanksAtTheEndsSurvive()
    {
        const ProfileStore store(file());
        const SiteProfile site{" Site ", " host ", " 21", "\"me\"", "  pw  ", "/dir with end "};
        QVERIFY(store.write(site));
        const SiteProfile back = store.read(" Site ");
        QCOMPARE(back.host, site.host);
        QCOMPARE(back.port, site.port);
        QCOMPARE(back.userID, site.userID);
        QCOMPARE(back.password, site.password);
        QCOMPARE(back.directory, site.directory);
        QCOMPARE(store.siteNames(), QStringList{" Site "});
    }

    void plainFileReadsByThePlainRule()
    {
        // A file that a plain writer made: every value is taken as it stands.
        QFile f(file());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Home]\nHost=ftp.home\nPort=21\nUserID=me\nPassword=" +
                ScramblePassword("secret") + "\nDirectory=/in\n");
        f.close();
        const SiteProfile site = ProfileStore(file()).read("home");
        QCOMPARE(site.host, QString("ftp.home"));
        QCOMPARE(site.password, QString("secret"));
        QCOMPARE(site.directory, QString("/in"));
        // Saving plain values back writes them exactly as a plain writer would.
        const QByteArray before = readFile(file());
        QVERIFY(ProfileStore(file()).write({"Home", "ftp.home", "21", "me", "secret", "/in"}));
        QCOMPARE(readFile(file()), before);
    }

    void saveNewSiteAddsItAndWritesInOrder()
    {
        const ProfileStore store(file());
        FakeForm form(store);
        form.fields = profile("MySite");
        form.fields.port = "  ";
        form.changed = true;
        QCOMPARE(SaveSiteProfile(form, store, m_prompter), ProfileSaveResult::Written);
        QCOMPARE(form.items, QStringList{"MySite"});
        QCOMPARE(form.fields.port, QString("0"));
        QVERIFY(!form.changed);
        QVERIFY(readFile(file()).startsWith(
            "[MySite]\nHost=ftp.example\nPort=0\nUserID=anna\nPassword="));
        QVERIFY(readFile(file()).endsWith("\nDirectory=/pub\n"));

        form.fields = {};
        LoadSiteProfile(form, store, "mysite");
        QCOMPARE(form.fields.siteName, QString("mysite"));
        QCOMPARE(form.fields.password, QString("pw"));
        QCOMPARE(form.fields.port, QString("0"));
        QVERIFY(!form.changed);
    }

    void overwriteAsksFirst_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::newRow("ASCII case") << "mysite"
                                    << "MySite";
        QTest::newRow("non-ASCII case") << "ärger"
                                        << "ÄRGER";
    }
    void overwriteAsksFirst()
    {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        const ProfileStore store(file());
        QVERIFY(store.write(profile(stored)));
        FakeForm form(store);
        ListSiteNames(form, store);
        form.fields = profile(typed, "new");
        form.changed = true;
        const QByteArray before = readFile(file());

        m_prompter.expectBeep(MB_ICONQUESTION).expectYesNo(kOverwriteSiteText, false);
        QCOMPARE(SaveSiteProfile(form, store, m_prompter), ProfileSaveResult::Declined);
        QCOMPARE(readFile(file()), before);
        QVERIFY(form.changed);

        m_prompter.expectBeep(MB_ICONQUESTION).expectYesNo(kOverwriteSiteText, true);
        QCOMPARE(SaveSiteProfile(form, store, m_prompter), ProfileSaveResult::Written);
        QCOMPARE(form.items, QStringList{stored});
        QCOMPARE(store.siteNames(), QStringList{stored}); // the header keeps its old case
        QCOMPARE(store.read(typed).password, QString("new"));
    }

    void namesTheFileCannotHoldAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("warning");
        const QString empty = "You must enter a name for this web site.";
        QTest::newRow("empty") << "" << empty;
        QTest::newRow("blanks") << " \t " << empty;
        QTest::newRow("closing bracket")
            << "a]b"
            << "A site name cannot contain a closing square bracket (]).";
        QTest::newRow("line feed") << "a\nb"
                                   << "A site name cannot contain a line break.";
        QTest::newRow("return") << "\r"
                                << "A site name cannot contain a line break.";
    }
    void namesTheFileCannotHoldAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, warning);
        const ProfileStore store(file());
        FakeForm form(store);
        form.fields = profile(name);
        form.changed = true;
        m_prompter.expectBeep(MB_ICONEXCLAMATION).expectMessage(warning);
        QCOMPARE(SaveSiteProfile(form, store, m_prompter), ProfileSaveResult::Refused);
        QVERIFY(form.items.isEmpty());
        QVERIFY(form.changed);
        QVERIFY(!QFile::exists(file()));
        QVERIFY(!store.write(profile(name)));
    }

    void deleteRemovesSectionAndClearsFields()
    {
        const ProfileStore store(file());
        QVERIFY(store.write(profile("Keep")));
        QVERIFY(store.write(profile("Gone")));
        FakeForm form(store);
        ListSiteNames(form, store);
        form.current = form.items.indexOf("Gone");

        m_prompter.expectBeep(MB_ICONQUESTION).expectYesNo(kDeleteSiteText, false);
        QVERIFY(!DeleteSiteProfile(form, store, m_prompter, "Gone"));
        QCOMPARE(store.siteNames().size(), 2);

        m_prompter.expectBeep(MB_ICONQUESTION).expectYesNo(kDeleteSiteText, true);
        QVERIFY(DeleteSiteProfile(form, store, m_prompter, "GONE"));
        QCOMPARE(store.siteNames(), QStringList{"Keep"});
        QCOMPARE(form.items, QStringList{"Keep"});
        QCOMPARE(form.newSiteRuns, 1);
        QCOMPARE(form.current, -1);
        QCOMPARE(form.fields.siteName, QString());
        QCOMPARE(form.fields.host, QString());
        QCOMPARE(form.fields.port, QString("21"));
        QVERIFY(!form.changed);
    }

    void failedWriteShowsThePath()
    {
        const ProfileStore store(file());
        QVERIFY(store.write(profile("Old")));
        FakeForm form(store);
        form.fields = profile("New");
        form.changed = true;
        m_prompter.expectMessage("Unable to write to " + file());
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old = {};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit full = old;
        full.rlim_cur = static_cast<rlim_t>(readFile(file()).size());
        setrlimit(RLIMIT_FSIZE, &full);
        const ProfileSaveResult result = SaveSiteProfile(form, store, m_prompter);
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(result, ProfileSaveResult::Failed);
        QVERIFY(form.changed);
        QCOMPARE(form.items, QStringList{"New"}); // added before the write, and it stays
        QCOMPARE(store.siteNames(), QStringList{"Old"});
    }

    void connectReadsWithEmptyDefaults()
    {
        QFile f(file());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Bare]\nHost=h\n");
        f.close();
        const SiteProfile site = ReadSiteForConnect("bare");
        QCOMPARE(site.host, QString("h"));
        QCOMPARE(site.port, QString());
        const ProfileStore store(file());
        FakeForm form(store);
        LoadSiteProfile(form, store, "bare");
        QCOMPARE(form.fields.port, QString("21"));
        QCOMPARE(rawValue(file(), "bare", "Port"), QString());
    }

    void longValuesAreNotCut()
    {
        const ProfileStore store(file());
        SiteProfile site = profile("Deep");
        site.directory = "/" + QString(3000, 'd');
        QVERIFY(store.write(site));
        QCOMPARE(store.read("Deep").directory, site.directory);
        // More names than the 8192 bytes of the list buffer hold.
        QFile f(file());
        QVERIFY(f.open(QIODevice::Append));
        for (int i = 0; i < 700; ++i)
            f.write("[Site number " + QByteArray::number(i) + "]\nHost=h\n");
        f.close();
        QCOMPARE(store.siteNames().size(), 701);
    }
};

QTEST_GUILESS_MAIN(TestProfileStore)
#include "tst_profilestore.moc"
