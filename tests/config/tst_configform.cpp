#include "ConfigFormFixture.h"
#include "ScriptedPrompter.h"
#include "sites/ui/ConfigForm.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

// The FTP page: saving, overwriting, refusing and deleting site profiles through the dialog.
class TestConfigForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void showListsSitesSortedAndLoadsRememberedSite();
    void saveNewSiteWritesFileAndListsIt();
    void saveExistingNameAsksBeforeOverwriting_data();
    void saveExistingNameAsksBeforeOverwriting();
    void saveWithBlankNameWritesNothing_data();
    void saveWithBlankNameWritesNothing();
    void saveRefusesNamesNoSectionCanHold_data();
    void saveRefusesNamesNoSectionCanHold();
    void blankPortIsSavedAsZero();
    void deleteWithoutSelectionWarns();
    void deleteSelectedSite_data();
    void deleteSelectedSite();
    void pickingAnotherSiteDropsEditsWithoutAsking();
    void newEmptiesFieldsAndSelectsNothing();
    void unwritableProfileFileKeepsDialogOpen();
    void readOnlyFolderKeepsDialogOpen();
    void encryptionShowsHowTheSiteConnectsAndIsSaved();
    void protocolIsSavedAndMovesTheDefaultPort();

private:
    // Shows the dialog over a stand-in main window, with the fixture's data folder.
    void showDialog();
    void typeInto(QLineEdit* field, const QString& text);

    std::unique_ptr<ConfigFormFixture> m_fixture;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<QWidget> m_main;
    std::unique_ptr<TfrmConfig> m_form;
};

void TestConfigForm::init()
{
    m_fixture = std::make_unique<ConfigFormFixture>();
    QVERIFY(m_fixture->isValid());
    m_prompter = std::make_unique<ScriptedPrompter>();
    m_main = std::make_unique<QWidget>();
    m_main->setGeometry(200, 150, 776, 578);
}

void TestConfigForm::cleanup()
{
    m_form.reset();
    m_main.reset();
    if (m_prompter)
        m_prompter->verifyDone();
    m_prompter.reset();
    m_fixture.reset();
    QCOMPARE(QApplication::topLevelWidgets().size(), 0);
}

void TestConfigForm::showDialog()
{
    m_form = std::make_unique<TfrmConfig>(*m_prompter, m_main.get());
    QCOMPARE(m_form->profileFilePath(), m_fixture->iniPath());
    m_form->show();
    QVERIFY(!m_form->SiteChanged);
}

void TestConfigForm::typeInto(QLineEdit* field, const QString& text)
{
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Delete);
    else
        QTest::keyClicks(field, text);
}

void TestConfigForm::showListsSitesSortedAndLoadsRememberedSite()
{
    m_fixture->seedProfile(QStringLiteral("zeta"), QStringLiteral("z.example"));
    m_fixture->seedProfile(QStringLiteral("Beta"), QStringLiteral("b.example"),
                           QStringLiteral("2121"), QStringLiteral("bob"), QStringLiteral("s3cret"),
                           QStringLiteral("/pub"));
    m_fixture->seedProfile(QStringLiteral("alpha"), QStringLiteral("a.example"));
    QVERIFY(WriteConfigureOptions(QStringLiteral("BETA"), QStringLiteral("/tmp/"), false, false,
                                  *m_prompter));
    showDialog();
    QStringList items;
    for (int i = 0; i < m_form->cboSiteName->count(); ++i)
        items << m_form->cboSiteName->itemText(i);
    QCOMPARE(items, (QStringList{"alpha", "Beta", "zeta"}));
    // The remembered site is matched without regard to case; its fields come from the file.
    QCOMPARE(m_form->siteListText(), QStringLiteral("Beta"));
    QCOMPARE(m_form->txtSiteName->text(), QStringLiteral("BETA"));
    QCOMPARE(m_form->txtHost->text(), QStringLiteral("b.example"));
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("2121"));
    QCOMPARE(m_form->txtUserID->text(), QStringLiteral("bob"));
    QCOMPARE(m_form->txtPassword->text(), QStringLiteral("s3cret"));
    QCOMPARE(m_form->txtDirectory->text(), QStringLiteral("/pub"));
    QCOMPARE(m_form->Tabs->currentWidget(), m_form->TabSheet1);
    // A screen reader hears the list's label as its name and the chosen site as its value.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_form->cboSiteName);
    QCOMPARE(list->text(QAccessible::Name), QStringLiteral("Web Site"));
    QCOMPARE(list->text(QAccessible::Value), QStringLiteral("Beta"));
    QCOMPARE(list->role(), QAccessible::ComboBox);
}

void TestConfigForm::saveNewSiteWritesFileAndListsIt()
{
    m_fixture->seedProfile(QStringLiteral("mike"), QStringLiteral("m.example"));
    showDialog();
    m_form->btnNewClick();
    typeInto(m_form->txtSiteName, QStringLiteral("  Lima "));
    typeInto(m_form->txtHost, QStringLiteral("127.0.0.1"));
    typeInto(m_form->txtUserID, QStringLiteral("anonymous"));
    typeInto(m_form->txtPassword, QStringLiteral("pa ss\"word"));
    typeInto(m_form->txtDirectory, QStringLiteral("/in coming"));
    QVERIFY(m_form->SiteChanged);
    m_prompter->expectBeep(MB_ICONASTERISK)
        .expectMessage(QString::fromLatin1(ConfigLogic::kSavedText));
    QTest::mouseClick(m_form->btnSave, Qt::LeftButton);
    QVERIFY(!m_form->SiteChanged);
    // The name goes in untrimmed, sorted before "mike", and the list shows it.
    QCOMPARE(m_form->cboSiteName->itemText(0), QStringLiteral("  Lima "));
    QCOMPARE(m_form->cboSiteName->currentIndex(), 0);
    QVERIFY(m_fixture->storedSiteNames().contains(QStringLiteral("  Lima ")));
    const SiteProfile stored = m_fixture->readProfile(QStringLiteral("  Lima "));
    QCOMPARE(stored.host, QStringLiteral("127.0.0.1"));
    QCOMPARE(stored.port, QStringLiteral("21"));
    QCOMPARE(stored.userID, QStringLiteral("anonymous"));
    QCOMPARE(stored.password, QStringLiteral("pa ss\"word"));
    QCOMPARE(stored.directory, QStringLiteral("/in coming"));
    QVERIFY(!m_fixture->iniBytes().contains("pa ss"));
    QVERIFY(m_form->isVisible());
}

void TestConfigForm::saveExistingNameAsksBeforeOverwriting_data()
{
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestConfigForm::saveExistingNameAsksBeforeOverwriting()
{
    QFETCH(bool, overwrite);
    m_fixture->seedProfile(QStringLiteral("mysite"), QStringLiteral("old.example"));
    const QByteArray before = m_fixture->iniBytes();
    showDialog();
    typeInto(m_form->txtSiteName, QStringLiteral("MySite"));
    typeInto(m_form->txtHost, QStringLiteral("new.example"));
    m_prompter->expectBeep(MB_ICONQUESTION)
        .expectYesNo(QString::fromLatin1(kOverwriteSiteText), overwrite);
    if (overwrite)
        m_prompter->expectBeep(MB_ICONASTERISK)
            .expectMessage(QString::fromLatin1(ConfigLogic::kSavedText));
    m_form->btnSaveClick();
    QVERIFY(m_prompter->verifyDone());
    QCOMPARE(m_form->cboSiteName->count(), 1);
    QCOMPARE(m_form->SiteChanged, !overwrite);
    if (overwrite) {
        // The list shows the site just saved, not an empty selection.
        QCOMPARE(m_form->siteListText(), QStringLiteral("mysite"));
        QCOMPARE(m_fixture->storedSiteNames(), QStringList{QStringLiteral("mysite")});
        QCOMPARE(m_fixture->readProfile(QStringLiteral("mysite")).host,
                 QStringLiteral("new.example"));
        return;
    }
    QCOMPARE(m_fixture->iniBytes(), before);
    // The edits are still unsaved, so closing asks again.
    m_prompter->expectBeep(MB_ICONQUESTION)
        .expectYesNo(QString::fromLatin1(ConfigLogic::kCloseQuestionText), false);
    m_form->btnCancelClick();
    QVERIFY(!m_form->isVisible());
}

void TestConfigForm::saveWithBlankNameWritesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks") << QStringLiteral("   ");
    QTest::newRow("tab") << QStringLiteral("\t");
}

void TestConfigForm::saveWithBlankNameWritesNothing()
{
    QFETCH(QString, name);
    showDialog();
    m_form->txtSiteName->setText(name);
    typeInto(m_form->txtHost, QStringLiteral("h.example"));
    m_prompter->expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(QString::fromLatin1(ConfigLogic::kNoSiteNameText));
    m_form->btnSaveClick();
    QVERIFY(m_prompter->verifyDone());
    QVERIFY(!m_fixture->iniExists());
    QCOMPARE(m_form->cboSiteName->count(), 0);
    QVERIFY(m_form->SiteChanged);
}

void TestConfigForm::saveRefusesNamesNoSectionCanHold_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("closing bracket") << QStringLiteral("a]b");
    QTest::newRow("bracket at the end") << QStringLiteral("site]");
    QTest::newRow("line feed") << QStringLiteral("two\nlines");
    QTest::newRow("carriage return") << QStringLiteral("two\rlines");
}

void TestConfigForm::saveRefusesNamesNoSectionCanHold()
{
    QFETCH(QString, name);
    m_fixture->seedProfile(QStringLiteral("keep"), QStringLiteral("k.example"));
    const QByteArray before = m_fixture->iniBytes();
    showDialog();
    m_form->txtSiteName->setText(name);
    QCOMPARE(m_form->txtSiteName->text(), name);
    typeInto(m_form->txtHost, QStringLiteral("h.example"));
    const QString problem = SiteNameProblem(name);
    QVERIFY(!problem.isEmpty());
    m_prompter->setIgnoreBeeps(true);
    m_prompter->expectMessage(problem);
    m_form->btnSaveClick();
    QVERIFY(m_prompter->verifyDone());
    QCOMPARE(m_fixture->iniBytes(), before);
    QCOMPARE(m_form->cboSiteName->count(), 1);
    QVERIFY(m_form->SiteChanged);
    // The close question refuses it the same way and keeps the dialog open for a fix.
    m_prompter->expectYesNo(QString::fromLatin1(ConfigLogic::kCloseQuestionText), true)
        .expectMessage(problem);
    m_form->btnCancelClick();
    QVERIFY(m_prompter->verifyDone());
    QVERIFY(m_form->isVisible());
    QCOMPARE(m_fixture->iniBytes(), before);
    m_prompter->expectYesNo(QString::fromLatin1(ConfigLogic::kCloseQuestionText), false);
    m_form->btnCancelClick();
    QVERIFY(!m_form->isVisible());
}

void TestConfigForm::blankPortIsSavedAsZero()
{
    showDialog();
    typeInto(m_form->txtSiteName, QStringLiteral("nport"));
    typeInto(m_form->txtPort, QString());
    QCOMPARE(m_form->txtPort->text(), QString());
    m_prompter->expectBeep(MB_ICONASTERISK)
        .expectMessage(QString::fromLatin1(ConfigLogic::kSavedText));
    m_form->btnSaveClick();
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("0"));
    QCOMPARE(m_fixture->readProfile(QStringLiteral("nport")).port, QStringLiteral("0"));
    QVERIFY(!m_form->SiteChanged);
}

void TestConfigForm::deleteWithoutSelectionWarns()
{
    m_fixture->seedProfile(QStringLiteral("stays"), QStringLiteral("s.example"));
    const QByteArray before = m_fixture->iniBytes();
    showDialog();
    QCOMPARE(m_form->cboSiteName->currentIndex(), -1);
    // The Site Name field names a stored site, but only the list's selection counts.
    typeInto(m_form->txtSiteName, QStringLiteral("stays"));
    m_prompter->expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(QString::fromLatin1(ConfigLogic::kNoSiteToDeleteText));
    QTest::mouseClick(m_form->btnDelete, Qt::LeftButton);
    QVERIFY(m_prompter->verifyDone());
    QCOMPARE(m_fixture->iniBytes(), before);
    QCOMPARE(m_form->cboSiteName->count(), 1);
}

void TestConfigForm::deleteSelectedSite_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestConfigForm::deleteSelectedSite()
{
    QFETCH(bool, confirm);
    m_fixture->seedProfile(QStringLiteral("gone"), QStringLiteral("g.example"),
                           QStringLiteral("990"));
    m_fixture->seedProfile(QStringLiteral("kept"), QStringLiteral("k.example"));
    showDialog();
    m_form->cboSiteName->setCurrentIndex(0);
    m_form->cboSiteNameClick(0);
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("990"));
    // The selected site is deleted, whatever the Site Name field holds.
    typeInto(m_form->txtSiteName, QStringLiteral("kept"));
    m_prompter->expectBeep(MB_ICONQUESTION)
        .expectYesNo(QString::fromLatin1(kDeleteSiteText), confirm);
    m_form->btnDeleteClick();
    QVERIFY(m_prompter->verifyDone());
    if (!confirm) {
        QCOMPARE(m_fixture->storedSiteNames().size(), 2);
        QCOMPARE(m_form->cboSiteName->count(), 2);
        return;
    }
    QCOMPARE(m_fixture->storedSiteNames(), QStringList{QStringLiteral("kept")});
    QCOMPARE(m_form->cboSiteName->count(), 1);
    QCOMPARE(m_form->cboSiteName->itemText(0), QStringLiteral("kept"));
    QCOMPARE(m_form->cboSiteName->currentIndex(), -1);
    QCOMPARE(m_form->txtSiteName->text(), QString());
    QCOMPARE(m_form->txtHost->text(), QString());
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("21"));
    QVERIFY(!m_form->SiteChanged);
}

void TestConfigForm::pickingAnotherSiteDropsEditsWithoutAsking()
{
    m_fixture->seedProfile(QStringLiteral("one"), QStringLiteral("1.example"));
    m_fixture->seedProfile(QStringLiteral("two"), QStringLiteral("2.example"),
                           QStringLiteral("2100"), QStringLiteral("user2"));
    showDialog();
    typeInto(m_form->txtHost, QStringLiteral("edited.example"));
    QVERIFY(m_form->SiteChanged);
    // Choosing from the list with the keyboard, as a user would.
    m_form->cboSiteName->setFocus();
    m_form->cboSiteName->setCurrentIndex(0);
    QTest::keyClick(m_form->cboSiteName, Qt::Key_Down);
    QCOMPARE(m_form->siteListText(), QStringLiteral("two"));
    QCOMPARE(m_form->txtSiteName->text(), QStringLiteral("two"));
    QCOMPARE(m_form->txtHost->text(), QStringLiteral("2.example"));
    QCOMPARE(m_form->txtUserID->text(), QStringLiteral("user2"));
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("2100"));
    QVERIFY(!m_form->SiteChanged);
}

void TestConfigForm::newEmptiesFieldsAndSelectsNothing()
{
    m_fixture->seedProfile(QStringLiteral("full"), QStringLiteral("f.example"),
                           QStringLiteral("2121"), QStringLiteral("u"), QStringLiteral("p"),
                           QStringLiteral("/d"));
    showDialog();
    m_form->cboSiteName->setCurrentIndex(0);
    m_form->cboSiteNameClick(0);
    QCOMPARE(m_form->txtPassword->text(), QStringLiteral("p"));
    typeInto(m_form->txtUserID, QStringLiteral("changed"));
    QTest::mouseClick(m_form->btnNew, Qt::LeftButton);
    QCOMPARE(m_form->cboSiteName->currentIndex(), -1);
    for (QLineEdit* field : {m_form->txtSiteName, m_form->txtHost, m_form->txtUserID,
                             m_form->txtPassword, m_form->txtDirectory})
        QCOMPARE(field->text(), QString());
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("21"));
    QVERIFY(!m_form->SiteChanged);
}

void TestConfigForm::unwritableProfileFileKeepsDialogOpen()
{
    // A folder where the file should be: no process, not even the superuser, can replace it.
    QVERIFY(QDir(m_fixture->home()).mkdir(QStringLiteral("zulftp.ini")));
    showDialog();
    typeInto(m_form->txtSiteName, QStringLiteral("blocked"));
    const QString error = QStringLiteral("Unable to write to ") + m_fixture->iniPath();
    m_prompter->setIgnoreBeeps(true);
    m_prompter->expectMessage(error);
    m_form->btnSaveClick();
    QVERIFY(m_prompter->verifyDone());
    QVERIFY(m_form->isVisible());
    QVERIFY(m_form->SiteChanged);
    // The failed save left the name in the list, so the close question's save asks before
    // overwriting, then fails the same way; the dialog stays open with the edits.
    QCOMPARE(m_form->cboSiteName->count(), 1);
    m_prompter->expectYesNo(QString::fromLatin1(ConfigLogic::kCloseQuestionText), true)
        .expectYesNo(QString::fromLatin1(kOverwriteSiteText), true)
        .expectMessage(error);
    QTest::mouseClick(m_form->btnCancel, Qt::LeftButton);
    QVERIFY(m_prompter->verifyDone());
    QVERIFY(m_form->isVisible());
    QCOMPARE(m_form->txtSiteName->text(), QStringLiteral("blocked"));
}

void TestConfigForm::readOnlyFolderKeepsDialogOpen()
{
    QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner;
    QVERIFY(QFile::setPermissions(m_fixture->home(), readOnly));
    const bool canStillWrite =
        QFile(m_fixture->home() + QStringLiteral("/probe")).open(QIODevice::WriteOnly);
    if (canStillWrite) {
        QFile::remove(m_fixture->home() + QStringLiteral("/probe"));
        QVERIFY(QFile::setPermissions(m_fixture->home(), readOnly | QFile::WriteOwner));
        QSKIP("running with rights that ignore file modes");
    }
    showDialog();
    typeInto(m_form->txtSiteName, QStringLiteral("ro"));
    m_prompter->setIgnoreBeeps(true);
    m_prompter->expectMessage(QStringLiteral("Unable to write to ") + m_fixture->iniPath());
    m_form->btnSaveClick();
    QVERIFY(m_prompter->verifyDone());
    QVERIFY(m_form->isVisible());
    QVERIFY(!m_fixture->iniExists());
    QVERIFY(QFile::setPermissions(m_fixture->home(), readOnly | QFile::WriteOwner));
}

QTEST_MAIN(TestConfigForm)
#include "tst_configform.moc"

void TestConfigForm::encryptionShowsHowTheSiteConnectsAndIsSaved()
{
    m_fixture->seedProfile(QStringLiteral("old"), QStringLiteral("o.example"));
    showDialog();
    auto shown = [this] { return m_form->cboEncryption->currentData().toString(); };
    // A profile from before the key connects in plain FTP, and says so.
    m_form->LoadSiteProfile(QStringLiteral("old"));
    QCOMPARE(shown(), QString::fromLatin1(kEncryptionNone));
    QVERIFY(!m_form->SiteChanged);
    // A new one starts with TLS when offered; choosing "required" is a change that is saved.
    m_form->btnNewClick();
    QCOMPARE(shown(), QString::fromLatin1(kEncryptionIfAvailable));
    typeInto(m_form->txtSiteName, QStringLiteral("new"));
    typeInto(m_form->txtHost, QStringLiteral("n.example"));
    m_form->SiteChanged = false;
    m_form->cboEncryption->setCurrentIndex(
        m_form->cboEncryption->findData(QString::fromLatin1(kEncryptionRequired)));
    QVERIFY(m_form->SiteChanged);
    m_prompter->expectBeep(MB_ICONASTERISK)
        .expectMessage(QString::fromLatin1(ConfigLogic::kSavedText));
    QTest::mouseClick(m_form->btnSave, Qt::LeftButton);
    QCOMPARE(m_fixture->readProfile(QStringLiteral("new")).encryption,
             QString::fromLatin1(kEncryptionRequired));
    QVERIFY(m_fixture->readProfile(QStringLiteral("old")).encryption.isEmpty());
    QVERIFY(!m_fixture->iniBytes().contains("Encryption=none"));
}

void TestConfigForm::protocolIsSavedAndMovesTheDefaultPort()
{
    m_fixture->seedProfile(QStringLiteral("old"), QStringLiteral("o.example"));
    showDialog();
    m_form->LoadSiteProfile(QStringLiteral("old"));
    QCOMPARE(m_form->cboProtocol->currentIndex(), 0);
    m_form->btnNewClick();
    typeInto(m_form->txtSiteName, QStringLiteral("shell"));
    typeInto(m_form->txtHost, QStringLiteral("s.example"));
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("21"));
    m_form->SiteChanged = false;
    m_form->cboProtocol->setCurrentIndex(1);
    QVERIFY(m_form->SiteChanged);
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("22"));
    QVERIFY(!m_form->cboEncryption->isEnabled());
    // Implicit TLS has a default port of its own, and is encrypted whatever the choice says.
    m_form->cboProtocol->setCurrentIndex(
        m_form->cboProtocol->findData(QString::fromLatin1(kProtocolFtps)));
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("990"));
    QVERIFY(!m_form->cboEncryption->isEnabled());
    m_form->cboProtocol->setCurrentIndex(1);
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("22"));
    m_prompter->expectBeep(MB_ICONASTERISK)
        .expectMessage(QString::fromLatin1(ConfigLogic::kSavedText));
    QTest::mouseClick(m_form->btnSave, Qt::LeftButton);
    const SiteProfile saved = m_fixture->readProfile(QStringLiteral("shell"));
    QCOMPARE(saved.protocol, QString::fromLatin1(kProtocolSftp));
    QCOMPARE(saved.port, QStringLiteral("22"));
    // Loaded again it shows as saved; a port the user chose stays when FTP is chosen back.
    m_form->LoadSiteProfile(QStringLiteral("old"));
    m_form->LoadSiteProfile(QStringLiteral("shell"));
    QCOMPARE(m_form->cboProtocol->currentIndex(), 1);
    QVERIFY(!m_form->SiteChanged);
    m_form->txtPort->setText(QStringLiteral("2222"));
    m_form->cboProtocol->setCurrentIndex(0);
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("2222"));
    QVERIFY(m_form->cboEncryption->isEnabled());
    // Back to FTP, the profile has no key an older version would not know.
    m_prompter->expectBeep(MB_ICONQUESTION)
        .expectYesNo(QString::fromLatin1(kOverwriteSiteText), true)
        .expectBeep(MB_ICONASTERISK)
        .expectMessage(QString::fromLatin1(ConfigLogic::kSavedText));
    QTest::mouseClick(m_form->btnSave, Qt::LeftButton);
    QVERIFY(!m_fixture->iniBytes().contains("Protocol"));
    QVERIFY(m_prompter->verifyDone());
}
