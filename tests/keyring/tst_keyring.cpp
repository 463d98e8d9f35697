#include "ConfigFormFixture.h"
#include "FtpServerFixture.h"
#include "RemoteTestHost.h"
#include "ScriptedPrompter.h"
#include "StandInKeyring.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteSession.h"
#include "profile.h"
#include "sites/ui/ConfigForm.h"
#include "sites/ui/DesktopKeyring.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/prctl.h>

// Site passwords in the desktop keyring: the dialog's save and option, the connect, and a
// keyring that is locked, missing or silent. The file must never hold a password the user
// asked to keep in the keyring.
class TestKeyring : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void savedPasswordLivesInKeyringAndConnects();
    void optionMovesPasswordsBothWays();
    void unusableKeyringNeverPutsPasswordInFile();
    void keyringWithoutUnlockedDefaultIsNotAsked();
    void realSecretServiceStoresReadsAndTimesOut();

private:
    void showForm();
    void connectAndDrop(RemoteTestHost& host, bool expected);

    QTemporaryDir m_root;
    FtpServerFixture m_server;
    std::unique_ptr<ConfigFormFixture> m_fixture;
    ScriptedPrompter m_prompter;
    StandInKeyring m_keyring;
    std::unique_ptr<QWidget> m_main;
    std::unique_ptr<TfrmConfig> m_form;
};

namespace {

const QString kSite = QStringLiteral("Site");
const QString kUnreadablePrompt = QStringLiteral("The desktop keyring did not give the password");

// Whether the file holds the password in any form the program could have written it.
bool fileHolds(const QByteArray& ini, const QString& password)
{
    const QByteArray plain = password.toUtf8();
    return ini.contains(plain) || ini.contains(EncodeProfileValue(ScramblePassword(plain)));
}

} // namespace

void TestKeyring::initTestCase()
{
    QVERIFY2(m_server.start(m_root.path()), qPrintable(m_server.errorOutput()));
}

void TestKeyring::init()
{
    m_fixture = std::make_unique<ConfigFormFixture>();
    m_keyring = StandInKeyring();
    m_prompter.reset();
    m_main = std::make_unique<QWidget>();
    FtpConnection = TFtpConnection();
}

void TestKeyring::cleanup()
{
    m_form.reset();
    m_main.reset();
    m_prompter.verifyDone();
    m_fixture.reset();
}

void TestKeyring::showForm()
{
    m_form = std::make_unique<TfrmConfig>(m_prompter, m_main.get());
    m_form->setKeyring(&m_keyring);
    m_form->show();
}

void TestKeyring::connectAndDrop(RemoteTestHost& host, bool expected)
{
    host.siteName = kSite;
    QCOMPARE(ConnectToSite(host), expected);
    QVERIFY(host.script.verifyDone());
    QCOMPARE(FtpConnection.Connected, expected);
    if (expected)
        QVERIFY(DisconnectFromSite(host));
}

void TestKeyring::savedPasswordLivesInKeyringAndConnects()
{
    showForm();
    // Offered by default where a keyring answers.
    QVERIFY(m_form->chkPasswordsInKeyring->isChecked());
    m_form->txtSiteName->setText(kSite);
    m_form->txtHost->setText(m_server.host());
    m_form->txtPort->setText(QString::number(m_server.port()));
    m_form->txtUserID->setText(QStringLiteral("user"));
    m_form->txtPassword->setText(QStringLiteral("secret"));
    // The test server has no TLS; the question that brings for a new site's default is the
    // connection's own test.
    m_form->cboEncryption->setCurrentIndex(
        m_form->cboEncryption->findData(QString::fromLatin1(kEncryptionNone)));
    m_prompter.expectBeep(MB_ICONASTERISK).expectMessage(QStringLiteral("Site information saved."));
    m_form->btnSaveClick();
    QCOMPARE(m_form->siteListText(), kSite);
    m_form->btnOKClick();
    QCOMPARE(m_fixture->storedOptions().passwordsInKeyring, std::optional<bool>(true));

    const QByteArray ini = m_fixture->iniBytes();
    QVERIFY2(!fileHolds(ini, QStringLiteral("secret")), ini.constData());
    QVERIFY(ini.contains("Password=\n") && ini.contains("PasswordStore=keyring"));
    QCOMPARE(m_keyring.entries.values(), QStringList{QStringLiteral("secret")});
    // Shown again, the field holds the keyring's password.
    m_form->show();
    QCOMPARE(m_form->txtPassword->text(), QStringLiteral("secret"));
    m_form->btnCancelClick();

    RemoteTestHost host;
    host.passwordKeyring = &m_keyring;
    connectAndDrop(host, true);

    // Locked: the user is asked, the answer is used once and stored nowhere.
    m_keyring.state = StandInKeyring::State::Locked;
    RemoteTestHost asked;
    asked.passwordKeyring = &m_keyring;
    asked.script.expectPassword(kUnreadablePrompt, QStringLiteral("secret"));
    connectAndDrop(asked, true);
    QCOMPARE(m_fixture->iniBytes(), ini);

    // Cancelled: no connect, no error box.
    RemoteTestHost cancelled;
    cancelled.script.expectPassword(kUnreadablePrompt, std::nullopt);
    connectAndDrop(cancelled, false);
}

void TestKeyring::optionMovesPasswordsBothWays()
{
    m_fixture->seedProfile(QStringLiteral("A"), QStringLiteral("a.example"), QStringLiteral("21"),
                           QStringLiteral("u"), QStringLiteral("pass-a"));
    m_fixture->seedProfile(QStringLiteral("B"), QStringLiteral("b.example"), QStringLiteral("21"),
                           QStringLiteral("u"), QStringLiteral("pass-b"));
    m_fixture->seedProfile(QStringLiteral("C"), QStringLiteral("c.example"));
    showForm();
    m_form->btnOKClick();
    QByteArray ini = m_fixture->iniBytes();
    QVERIFY(!fileHolds(ini, QStringLiteral("pass-a")) && !fileHolds(ini, QStringLiteral("pass-b")));
    QCOMPARE(m_keyring.entries.size(), 2);
    QVERIFY(m_fixture->readProfile(QStringLiteral("A")).passwordInKeyring);
    QVERIFY(!m_fixture->readProfile(QStringLiteral("C")).passwordInKeyring);

    // Out again while the keyring is locked: nothing moves, and the user hears why.
    m_keyring.state = StandInKeyring::State::Locked;
    m_form->show();
    m_form->chkPasswordsInKeyring->setChecked(false);
    m_prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessageStartingWith(
            QStringLiteral("The passwords of these sites could not be taken out of the desktop "
                           "keyring and stay there: \"A\", \"B\""));
    m_form->btnOKClick();
    QCOMPARE(m_fixture->iniBytes(), ini);

    // Unlocked, the next OK finishes the move.
    m_keyring.state = StandInKeyring::State::Open;
    m_form->show();
    QVERIFY(!m_form->chkPasswordsInKeyring->isChecked());
    m_form->btnOKClick();
    QVERIFY(m_keyring.entries.isEmpty());
    const SiteProfile a = m_fixture->readProfile(QStringLiteral("A"));
    QCOMPARE(a.password, QStringLiteral("pass-a"));
    QVERIFY(!a.passwordInKeyring);
    QCOMPARE(m_fixture->readProfile(QStringLiteral("B")).password, QStringLiteral("pass-b"));
    QVERIFY(!m_fixture->iniBytes().contains("PasswordStore"));
}

void TestKeyring::unusableKeyringNeverPutsPasswordInFile()
{
    showForm();
    m_form->btnOKClick(); // the option on, nothing to move
    m_keyring.state = StandInKeyring::State::Missing;
    m_form->show();
    m_form->txtSiteName->setText(kSite);
    m_form->txtHost->setText(QStringLiteral("h.example"));
    m_form->txtUserID->setText(QStringLiteral("u"));
    m_form->txtPassword->setText(QStringLiteral("new-secret"));
    m_prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessageStartingWith(
            QStringLiteral("The password of \"Site\" could not be stored in the desktop keyring: "
                           "No desktop keyring service is running."))
        .expectBeep(MB_ICONASTERISK)
        .expectMessage(QStringLiteral("Site information saved."));
    m_form->btnSaveClick();
    QVERIFY(!fileHolds(m_fixture->iniBytes(), QStringLiteral("new-secret")));
    QVERIFY(m_fixture->readProfile(kSite).passwordInKeyring);

    // A password the keyring holds but cannot give now survives a save of other fields.
    const QString entry = ProfileStore(m_fixture->iniPath()).keyringEntry(kSite);
    m_keyring.entries.insert(entry, QStringLiteral("kept"));
    m_keyring.state = StandInKeyring::State::Locked;
    m_form->LoadSiteProfile(kSite);
    QVERIFY(m_form->txtPassword->text().isEmpty());
    QVERIFY(!m_form->txtPassword->placeholderText().isEmpty());
    m_form->txtHost->setText(QStringLiteral("other.example"));
    m_prompter.expectBeep(MB_ICONQUESTION)
        .expectYesNo(QString::fromLatin1(kOverwriteSiteText), true)
        .expectBeep(MB_ICONASTERISK)
        .expectMessage(QStringLiteral("Site information saved."));
    m_form->btnSaveClick();
    QCOMPARE(m_keyring.entries.value(entry), QStringLiteral("kept"));
    QVERIFY(m_fixture->readProfile(kSite).passwordInKeyring);
    m_form->btnCancelClick();

    // A copy of the program that knows no keyring writes its password into the file and
    // leaves the marker: that password is the newer one.
    const QByteArray older = EncodeProfileValue(ScramblePassword("older"));
    QVERIFY(WritePrivateProfileStringA("Site", "Password", older.constData(),
                                       m_fixture->iniPath().toUtf8().constData()));
    const SiteProfile site = m_fixture->readProfile(kSite);
    QCOMPARE(site.password, QStringLiteral("older"));
    QVERIFY(!site.passwordInKeyring);
}

// A keyring service that answers but has no unlocked default keyring would open its own window
// at the first write: the dialog says so beforehand and keeps the password in the file.
void TestKeyring::keyringWithoutUnlockedDefaultIsNotAsked()
{
    m_keyring.state = StandInKeyring::State::NoDefault;
    showForm();
    QVERIFY(!m_form->chkPasswordsInKeyring->isChecked());
    QVERIFY2(m_form->lblKeyringNote->text().contains(QStringLiteral("no unlocked keyring")),
             qPrintable(m_form->lblKeyringNote->text()));
    m_form->chkPasswordsInKeyring->setChecked(true);
    m_form->txtSiteName->setText(kSite);
    m_form->txtHost->setText(QStringLiteral("h.example"));
    m_form->txtUserID->setText(QStringLiteral("u"));
    m_form->txtPassword->setText(QStringLiteral("pw-in-file"));
    m_prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessageStartingWith(QStringLiteral(
            "The desktop keyring has no unlocked keyring, so the password of \"Site\" was saved "
            "in the profile file"))
        .expectBeep(MB_ICONASTERISK)
        .expectMessage(QStringLiteral("Site information saved."));
    m_form->btnSaveClick();
    QVERIFY(m_prompter.verifyDone());
    QVERIFY(fileHolds(m_fixture->iniBytes(), QStringLiteral("pw-in-file")));
    QVERIFY(!m_fixture->readProfile(kSite).passwordInKeyring);
    // OK keeps the choice but moves nothing while the keyring stays closed, and says so.
    m_prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(QStringLiteral("The desktop keyring has no unlocked keyring, so the "
                                      "passwords of these sites stay in the profile file: "
                                      "\"Site\""));
    m_form->btnOKClick();
    QVERIFY(m_prompter.verifyDone());
    QCOMPARE(m_fixture->storedOptions().passwordsInKeyring, std::optional<bool>(true));
    QVERIFY(!m_keyring.windowOpened);
    QVERIFY(m_keyring.entries.isEmpty());
}

// A Secret Service of our own: a private session bus (without service activation, so nothing
// else starts on it) and a keyring daemon unlocked with a known password, in a home folder of
// their own. The user's keyring is never touched.
class PrivateSecretService
{
public:
    ~PrivateSecretService()
    {
        for (QProcess* process : {&m_keyring, &m_bus}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
            process->kill();
            process->waitForFinished(5000);
        }
    }

    // Empty when the service runs, else why it cannot run here.
    QString start()
    {
        const QString bus = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        const QString daemon =
            QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
        if (bus.isEmpty() || daemon.isEmpty())
            return QStringLiteral("dbus-daemon or gnome-keyring-daemon is not installed");
        QDir home(m_home.path());
        home.mkpath(QStringLiteral("run"));
        QFile::setPermissions(home.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile config(home.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write the bus configuration");
        // The default policy of the desktop's own session bus: with the send rule alone the
        // daemon delivers no replies and every call waits out its timeout.
        config.write(
            "<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(m_home.path()) +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>");
        config.close();
        // Both daemons end with this test even when it aborts.
        for (QProcess* process : {&m_bus, &m_keyring})
            process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_bus.start(bus, {QStringLiteral("--config-file=") + config.fileName(),
                          QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_bus.waitForReadyRead(15000))
            return QStringLiteral("the private session bus did not start");
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(address));
        env.remove(QStringLiteral("DISPLAY"));
        m_keyring.setProcessEnvironment(env);
        m_keyring.start(daemon, {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                                 QStringLiteral("--components=secrets")});
        if (!m_keyring.waitForStarted(15000))
            return QStringLiteral("gnome-keyring-daemon did not start");
        m_keyring.write("keyring-test-password");
        m_keyring.closeWriteChannel();
        QDBusConnection watch =
            QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("watch"));
        QElapsedTimer waited;
        waited.start();
        while (!watch.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets"))) {
            if (waited.elapsed() > 20000 || m_keyring.state() == QProcess::NotRunning)
                return QStringLiteral("the keyring daemon did not take the Secret Service name");
            QTest::qWait(100);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("watch"));
        return {};
    }

    qint64 keyringPid() const { return m_keyring.processId(); }

private:
    QTemporaryDir m_home;
    QProcess m_bus;
    QProcess m_keyring;
};

void TestKeyring::realSecretServiceStoresReadsAndTimesOut()
{
    PrivateSecretService service;
    if (const QString why = service.start(); !why.isEmpty())
        QSKIP(qPrintable(QStringLiteral("No Secret Service can be started here: ") + why));

    DesktopKeyring keyring(3000);
    QVERIFY(keyring.available());
    QVERIFY(!keyring.asksBeforeStoring());
    const QString entry = ProfileStore(m_fixture->iniPath()).keyringEntry(kSite);
    QCOMPARE(keyring.read(entry).status, PasswordKeyring::Status::NotFound);
    QCOMPARE(keyring.write(entry, QStringLiteral("secret")).status, PasswordKeyring::Status::Ok);

    // A profile that points at the keyring connects with the keyring's password.
    SiteProfile site{
        kSite,     m_server.host(), QString::number(m_server.port()), QStringLiteral("user"),
        QString(), QString()};
    site.passwordInKeyring = true;
    QVERIFY(ProfileStore(m_fixture->iniPath()).write(site));
    RemoteTestHost host;
    host.passwordKeyring = &keyring;
    connectAndDrop(host, true);

    // A keyring that stops answering holds the program for the deadline once, then not at all.
    ::kill(static_cast<pid_t>(service.keyringPid()), SIGSTOP);
    QElapsedTimer clock;
    clock.start();
    const PasswordKeyring::Result silent = keyring.read(entry);
    QCOMPARE(silent.status, PasswordKeyring::Status::Unavailable);
    QVERIFY2(silent.error.contains(QStringLiteral("did not answer")), qPrintable(silent.error));
    QVERIFY(clock.elapsed() < 10000);
    clock.restart();
    QCOMPARE(keyring.read(entry).status, PasswordKeyring::Status::Unavailable);
    QVERIFY(clock.elapsed() < 1000);
    ::kill(static_cast<pid_t>(service.keyringPid()), SIGCONT);
    QTRY_COMPARE_WITH_TIMEOUT(keyring.read(entry).password, QStringLiteral("secret"), 20000);

    QCOMPARE(keyring.remove(entry).status, PasswordKeyring::Status::Ok);
    QCOMPARE(keyring.read(entry).status, PasswordKeyring::Status::NotFound);

    // Once the default keyring is locked, a store would bring up the service's own window.
    QDBusMessage alias =
        QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                       "org.freedesktop.Secret.Service", "ReadAlias");
    alias << QStringLiteral("default");
    const QDBusMessage found = QDBusConnection::sessionBus().call(alias);
    QCOMPARE(found.type(), QDBusMessage::ReplyMessage);
    QDBusMessage lock =
        QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                       "org.freedesktop.Secret.Service", "Lock");
    lock << QVariant::fromValue(
        QList<QDBusObjectPath>{found.arguments().value(0).value<QDBusObjectPath>()});
    QCOMPARE(QDBusConnection::sessionBus().call(lock).type(), QDBusMessage::ReplyMessage);
    QVERIFY(keyring.asksBeforeStoring());
}

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
