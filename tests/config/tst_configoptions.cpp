#include "ConfigFormFixture.h"
#include "ScriptedPrompter.h"
#include "registry.h"
#include "sites/ui/ConfigForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <memory>

// The Options page, OK and Cancel, the close question, the Port filter, the field limits and
// where the dialog appears.
class TestConfigOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void okWritesUntrimmedLastSiteAndOptions();
    void okWithEmptyDefaultFolderStoresHomeFolder_data();
    void okWithEmptyDefaultFolderStoresHomeFolder();
    void cancelWritesNothingAndKeepsUnstoredTicks();
    void okThatCannotStoreSettingsKeepsDialogOpen();
    void closeQuestionAfterEdits_data();
    void closeQuestionAfterEdits();
    void optionsPageNeverMarksSiteChanged();
    void browseSetsFolderOnlyWhenChosen();
    void portFilterDropsNonDigitsWithBeep_data();
    void portFilterDropsNonDigitsWithBeep();
    void portFieldTakesSelectPasteAndReplace_data();
    void portFieldTakesSelectPasteAndReplace();
    void typingLimitsLeaveLoadedTextWhole();
    void labelsAreBuddiesAndNameTheirFields_data();
    void labelsAreBuddiesAndNameTheirFields();
    void passwordShowsStars();
    void showCentresOverMainWindowAndStartsOnFtpPage();
    void enterPressesFocusedButtonElseOk();
    void showModalReturnsOkOrCancel_data();
    void showModalReturnsOkOrCancel();

private:
    void showDialog();

    std::unique_ptr<ConfigFormFixture> m_fixture;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<QWidget> m_main;
    std::unique_ptr<TfrmConfig> m_form;
};

void TestConfigOptions::init()
{
    m_fixture = std::make_unique<ConfigFormFixture>();
    QVERIFY(m_fixture->isValid());
    m_prompter = std::make_unique<ScriptedPrompter>();
    m_main = std::make_unique<QWidget>();
    m_main->setGeometry(214, 173, 776, 578);
}

void TestConfigOptions::cleanup()
{
    m_form.reset();
    m_main.reset();
    if (m_prompter)
        m_prompter->verifyDone();
    m_prompter.reset();
    m_fixture.reset();
    QCOMPARE(QApplication::topLevelWidgets().size(), 0);
}

void TestConfigOptions::showDialog()
{
    m_form = std::make_unique<TfrmConfig>(*m_prompter, m_main.get());
    m_form->show();
}

void TestConfigOptions::okWritesUntrimmedLastSiteAndOptions()
{
    showDialog();
    QTest::keyClicks(m_form->txtSiteName, QStringLiteral(" Unsaved "));
    m_form->txtDefaultPath->setText(QStringLiteral("/srv/files/"));
    m_form->chkLowerCase->setChecked(true);
    m_form->chkAutoConnect->setChecked(true);
    // OK stores the options first, then asks about the unsaved site; No leaves LastSite
    // naming a site that is not stored.
    m_prompter->expectBeep(MB_ICONQUESTION)
        .expectYesNo(QString::fromLatin1(ConfigLogic::kCloseQuestionText), false);
    QTest::mouseClick(m_form->btnOK, Qt::LeftButton);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->result(), int(QDialog::Accepted));
    const ConfigureOptions stored = m_fixture->storedOptions();
    QCOMPARE(stored.lastSite, std::optional<QString>(QStringLiteral(" Unsaved ")));
    QCOMPARE(stored.defaultLocalPath, std::optional<QString>(QStringLiteral("/srv/files/")));
    QCOMPARE(stored.lowerCaseUpload, std::optional<bool>(true));
    QCOMPARE(stored.autoConnect, std::optional<bool>(true));
    QVERIFY(!m_fixture->iniExists());
}

void TestConfigOptions::okWithEmptyDefaultFolderStoresHomeFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks") << QStringLiteral("  ");
}

void TestConfigOptions::okWithEmptyDefaultFolderStoresHomeFolder()
{
    QFETCH(QString, folder);
    showDialog();
    m_form->txtDefaultPath->setText(folder);
    m_form->btnOKClick();
    QVERIFY(!m_form->isVisible());
    // The user's own folder, never the program's build or installation folder.
    const QString home = QDir::homePath() + QLatin1Char('/');
    QCOMPARE(m_form->txtDefaultPath->text(), home);
    QCOMPARE(m_fixture->storedOptions().defaultLocalPath, std::optional<QString>(home));
    QCOMPARE(m_fixture->storedOptions().lastSite, std::optional<QString>(QString()));
}

void TestConfigOptions::cancelWritesNothingAndKeepsUnstoredTicks()
{
    showDialog();
    m_form->Tabs->setCurrentWidget(m_form->TabSheet2);
    QTest::mouseClick(m_form->chkLowerCase, Qt::LeftButton);
    QVERIFY(m_form->chkLowerCase->isChecked());
    QTest::keyClick(m_form.get(), Qt::Key_Escape);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->result(), int(QDialog::Rejected));
    const ConfigureOptions stored = m_fixture->storedOptions();
    QVERIFY(!stored.lastSite && !stored.defaultLocalPath && !stored.lowerCaseUpload &&
            !stored.autoConnect);
    QVERIFY(!m_fixture->iniExists());
    // With nothing stored the control keeps what it showed at the last showing.
    m_form->show();
    QVERIFY(m_form->chkLowerCase->isChecked());
    QCOMPARE(m_form->Tabs->currentWidget(), m_form->TabSheet1);
    // A stored value wins over what the control held.
    m_form->chkLowerCase->setChecked(false);
    m_form->btnOKClick();
    m_form->chkLowerCase->setChecked(true);
    m_form->show();
    QVERIFY(!m_form->chkLowerCase->isChecked());
    m_form->btnCancelClick();
}

void TestConfigOptions::okThatCannotStoreSettingsKeepsDialogOpen()
{
    // A folder where the settings file should be: it can be neither read nor replaced.
    const QString settingsFile = QString::fromStdString(RegistryFilePath());
    QVERIFY(settingsFile.startsWith(m_fixture->home()));
    QVERIFY(QDir().mkpath(settingsFile));
    showDialog();
    m_form->btnOKClick();
    QVERIFY(m_form->isVisible());
    QCOMPARE(m_form->result(), 0);
    // The store words its own errors; each box names the settings file.
    QList<ScriptedPrompter::Seen> boxes;
    for (const ScriptedPrompter::Seen& seen : m_prompter->seen()) {
        if (seen.kind == PromptKind::Message)
            boxes.append(seen);
    }
    QVERIFY(!boxes.isEmpty());
    QVERIFY(boxes.last().text.contains(settingsFile));
    m_prompter->reset();
    m_form->btnCancelClick();
    QVERIFY(!m_form->isVisible());
}

void TestConfigOptions::closeQuestionAfterEdits_data()
{
    QTest::addColumn<int>("closeBy");
    QTest::addColumn<bool>("save");
    enum { Ok, Cancel, CloseBox };
    QTest::newRow("OK, save") << int(Ok) << true;
    QTest::newRow("OK, don't save") << int(Ok) << false;
    QTest::newRow("Cancel, save") << int(Cancel) << true;
    QTest::newRow("close box, save") << int(CloseBox) << true;
    QTest::newRow("close box, don't save") << int(CloseBox) << false;
}

void TestConfigOptions::closeQuestionAfterEdits()
{
    QFETCH(int, closeBy);
    QFETCH(bool, save);
    showDialog();
    QTest::keyClicks(m_form->txtSiteName, QStringLiteral("fresh"));
    QTest::keyClicks(m_form->txtHost, QStringLiteral("f.example"));
    m_prompter->expectBeep(MB_ICONQUESTION)
        .expectYesNo(QString::fromLatin1(ConfigLogic::kCloseQuestionText), save);
    if (closeBy == 0)
        QTest::mouseClick(m_form->btnOK, Qt::LeftButton);
    else if (closeBy == 1)
        QTest::mouseClick(m_form->btnCancel, Qt::LeftButton);
    else
        QVERIFY(m_form->close());
    QVERIFY(m_prompter->verifyDone());
    QVERIFY(!m_form->isVisible());
    // The close question's save shows no "saved" box and does not touch the settings.
    QCOMPARE(m_fixture->storedSiteNames(),
             save ? QStringList{QStringLiteral("fresh")} : QStringList{});
    if (save)
        QCOMPARE(m_fixture->readProfile(QStringLiteral("fresh")).host, QStringLiteral("f.example"));
    QCOMPARE(m_fixture->storedOptions().lastSite.has_value(), closeBy == 0);
}

void TestConfigOptions::optionsPageNeverMarksSiteChanged()
{
    showDialog();
    m_form->Tabs->setCurrentWidget(m_form->TabSheet2);
    m_form->chkAutoConnect->setChecked(true);
    m_form->chkLowerCase->setChecked(true);
    m_form->txtDefaultPath->setText(QStringLiteral("/x/"));
    QVERIFY(!m_form->SiteChanged);
    m_form->btnCancelClick();
    QVERIFY(!m_form->isVisible());
}

void TestConfigOptions::browseSetsFolderOnlyWhenChosen()
{
    showDialog();
    m_form->txtDefaultPath->setText(QStringLiteral("/before/"));
    const QString caption = QString::fromLatin1(ConfigLogic::kPickerCaption);
    QCOMPARE(caption, QStringLiteral("Select Local Folder"));
    m_prompter->expectFolder(caption, QString());
    QTest::mouseClick(m_form->btnBrowseDefault, Qt::LeftButton);
    QCOMPARE(m_form->txtDefaultPath->text(), QStringLiteral("/before/"));
    m_prompter->expectFolder(caption, QStringLiteral("/home/user/Downloads"));
    QTest::mouseClick(m_form->btnBrowseDefault, Qt::LeftButton);
    QCOMPARE(m_form->txtDefaultPath->text(), QStringLiteral("/home/user/Downloads"));
    QVERIFY(m_form->txtDefaultPath->isReadOnly());
    QVERIFY(m_form->btnBrowseDefault->font().bold());
}

void TestConfigOptions::portFilterDropsNonDigitsWithBeep_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("beeps");
    QTest::newRow("digits") << QStringLiteral("2121") << QStringLiteral("2121") << 0;
    QTest::newRow("letters among digits") << QStringLiteral("8a0b") << QStringLiteral("80") << 2;
    QTest::newRow("sign and blank") << QStringLiteral("-1 2") << QStringLiteral("12") << 2;
    QTest::newRow("a sixth digit is refused aloud")
        << QStringLiteral("123456") << QStringLiteral("12345") << 1;
}

void TestConfigOptions::portFilterDropsNonDigitsWithBeep()
{
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QFETCH(int, beeps);
    showDialog();
    m_form->txtPort->clear();
    for (int i = 0; i < beeps; ++i)
        m_prompter->expectBeep(MB_OK);
    QTest::keyClicks(m_form->txtPort, typed);
    QVERIFY(m_prompter->verifyDone());
    QCOMPARE(m_form->txtPort->text(), result);
    // Backspace and the cursor keys still edit.
    QTest::keyClick(m_form->txtPort, Qt::Key_Backspace);
    QCOMPARE(m_form->txtPort->text(), result.chopped(1));
    QTest::keyClick(m_form->txtPort, Qt::Key_Home);
    QTest::keyClick(m_form->txtPort, Qt::Key_Delete);
    QCOMPARE(m_form->txtPort->text(), result.chopped(1).mid(1));
}

void TestConfigOptions::portFieldTakesSelectPasteAndReplace_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("keys"); // A: Ctrl+A, V: Ctrl+V, E: End, a digit types it
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("beeps");
    QTest::newRow("typing on entry replaces the default") << "21"
                                                          << ""
                                                          << "50001"
                                                          << "50001" << 0;
    QTest::newRow("select all, then type") << "21"
                                           << ""
                                           << "EA990"
                                           << "990" << 0;
    QTest::newRow("paste replaces the selection") << "21"
                                                  << "2121"
                                                  << "AV"
                                                  << "2121" << 0;
    QTest::newRow("paste at the cursor") << "21"
                                         << "00"
                                         << "EV"
                                         << "2100" << 0;
    QTest::newRow("paste with a letter is refused") << "21"
                                                    << "21a"
                                                    << "AV"
                                                    << "21" << 1;
    QTest::newRow("paste too long is refused") << "21"
                                               << "123456"
                                               << "AV"
                                               << "21" << 1;
    QTest::newRow("paste that would not fit") << "2121"
                                              << "50"
                                              << "EV"
                                              << "2121" << 1;
    QTest::newRow("digit past a full field") << "12345"
                                             << ""
                                             << "E6"
                                             << "12345" << 1;
}

void TestConfigOptions::portFieldTakesSelectPasteAndReplace()
{
    QFETCH(QString, start);
    QFETCH(QString, clipboard);
    QFETCH(QString, keys);
    QFETCH(QString, result);
    QFETCH(int, beeps);
    showDialog();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    m_form->txtPort->setText(start);
    QApplication::clipboard()->setText(clipboard);
    m_form->txtPort->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(m_form->txtPort->selectedText(), start);
    for (int i = 0; i < beeps; ++i)
        m_prompter->expectBeep(MB_OK);
    for (const QChar key : keys) {
        if (key == QLatin1Char('A'))
            QTest::keyClick(m_form->txtPort, Qt::Key_A, Qt::ControlModifier);
        else if (key == QLatin1Char('V'))
            QTest::keyClick(m_form->txtPort, Qt::Key_V, Qt::ControlModifier);
        else if (key == QLatin1Char('E'))
            QTest::keyClick(m_form->txtPort, Qt::Key_End);
        else
            QTest::keyClicks(m_form->txtPort, QString(key));
    }
    QVERIFY(m_prompter->verifyDone());
    QCOMPARE(m_form->txtPort->text(), result);
}

void TestConfigOptions::typingLimitsLeaveLoadedTextWhole()
{
    const QString longName(45, QLatin1Char('n'));
    const QString longPassword(70, QLatin1Char('p'));
    m_fixture->seedProfile(longName, QStringLiteral("h"), QStringLiteral("1234567"), {},
                           longPassword);
    showDialog();
    m_form->cboSiteName->setCurrentIndex(0);
    m_form->cboSiteNameClick(0);
    // What the file holds arrives whole, so saving it back names the same section.
    QCOMPARE(m_form->txtSiteName->text(), longName);
    QCOMPARE(m_form->txtPassword->text(), longPassword);
    QCOMPARE(m_form->txtPort->text(), QStringLiteral("1234567"));
    // Typing cannot make it longer, but can shorten it.
    m_form->txtSiteName->end(false);
    QTest::keyClicks(m_form->txtSiteName, QStringLiteral("x"));
    QCOMPARE(m_form->txtSiteName->text(), longName);
    QTest::keyClick(m_form->txtSiteName, Qt::Key_Backspace);
    QCOMPARE(m_form->txtSiteName->text().size(), 44);
    // Fresh typing stops at each limit.
    for (auto [field, limit] : {std::pair{m_form->txtSiteName, 40}, {m_form->txtPassword, 60}}) {
        field->clear();
        QTest::keyClicks(field, QString(limit + 3, QLatin1Char('a')));
        QCOMPARE(field->text().size(), limit);
    }
    m_form->SiteChanged = false;
}

void TestConfigOptions::labelsAreBuddiesAndNameTheirFields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("label");
    QTest::newRow("site list") << "cboSiteName"
                               << "Web Site";
    QTest::newRow("site name") << "txtSiteName"
                               << "Site Name";
    QTest::newRow("host") << "txtHost"
                          << "Host";
    QTest::newRow("port") << "txtPort"
                          << "Port";
    QTest::newRow("user") << "txtUserID"
                          << "User ID";
    QTest::newRow("password") << "txtPassword"
                              << "Password";
    QTest::newRow("directory") << "txtDirectory"
                               << "Directory";
    QTest::newRow("default folder") << "txtDefaultPath"
                                    << "Default Local Folder";
}

void TestConfigOptions::labelsAreBuddiesAndNameTheirFields()
{
    QFETCH(QString, field);
    QFETCH(QString, label);
    showDialog();
    auto* widget = m_form->findChild<QWidget*>(field);
    QVERIFY(widget);
    QCOMPARE(widget->accessibleName(), label);
    const QList<QLabel*> labels = m_form->findChildren<QLabel*>();
    const auto buddyLabel = std::find_if(labels.begin(), labels.end(),
                                         [&](QLabel* each) { return each->buddy() == widget; });
    QVERIFY(buddyLabel != labels.end());
    QCOMPARE((*buddyLabel)->text(), label);
    // The FTP page's tab order runs through the fields as the page lists them.
    QWidget* next = m_form->cboSiteName;
    QStringList order;
    for (int i = 0; i < 11; ++i) {
        next = next->nextInFocusChain();
        while (!next->focusPolicy() || next->isHidden() || qobject_cast<QLabel*>(next))
            next = next->nextInFocusChain();
        order << next->objectName();
    }
    QCOMPARE(order, (QStringList{"txtSiteName", "txtHost", "txtPort", "txtUserID", "txtPassword",
                                 "txtDirectory", "cboEncryption", "cboProtocol", "btnNew",
                                 "btnSave", "btnDelete"}));
}

void TestConfigOptions::passwordShowsStars()
{
    showDialog();
    QCOMPARE(m_form->txtPassword->echoMode(), QLineEdit::Password);
    QCOMPARE(m_form->txtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                     m_form->txtPassword),
             int('*'));
}

void TestConfigOptions::showCentresOverMainWindowAndStartsOnFtpPage()
{
    showDialog();
    const QPoint expected =
        ConfigLogic::CentredOrigin(m_main->frameGeometry(), m_form->frameGeometry().size());
    QCOMPARE(m_form->pos(), expected);
    QVERIFY(m_form->width() >= 401 && m_form->height() >= 289);
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Configure"));
    QVERIFY(m_form->btnOK->isDefault());
    m_form->Tabs->setCurrentWidget(m_form->TabSheet2);
    m_form->btnCancelClick();
    // Each showing centres again, over wherever the main window is now.
    m_main->move(40, 30);
    m_form->show();
    QCOMPARE(m_form->pos(),
             ConfigLogic::CentredOrigin(m_main->frameGeometry(), m_form->frameGeometry().size()));
    QCOMPARE(m_form->Tabs->currentWidget(), m_form->TabSheet1);
    m_form->btnCancelClick();
}

void TestConfigOptions::enterPressesFocusedButtonElseOk()
{
    showDialog();
    QApplication::setActiveWindow(m_form.get());
    m_form->btnSave->setFocus();
    QTest::keyClicks(m_form->txtSiteName, QStringLiteral("entered"));
    m_form->btnSave->setFocus();
    m_prompter->expectBeep(MB_ICONASTERISK)
        .expectMessage(QString::fromLatin1(ConfigLogic::kSavedText));
    QTest::keyClick(m_form->btnSave, Qt::Key_Return);
    QVERIFY(m_prompter->verifyDone());
    QVERIFY(m_form->isVisible());
    m_form->txtHost->setFocus();
    QTest::keyClick(m_form->txtHost, Qt::Key_Return);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->result(), int(QDialog::Accepted));
    QCOMPARE(m_fixture->storedOptions().lastSite,
             std::optional<QString>(QStringLiteral("entered")));
}

void TestConfigOptions::showModalReturnsOkOrCancel_data()
{
    QTest::addColumn<bool>("pressOk");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
}

void TestConfigOptions::showModalReturnsOkOrCancel()
{
    QFETCH(bool, pressOk);
    m_form = std::make_unique<TfrmConfig>(*m_prompter, m_main.get());
    QTimer::singleShot(0, m_form.get(), [&] {
        QTest::mouseClick(pressOk ? m_form->btnOK : m_form->btnCancel, Qt::LeftButton);
    });
    QCOMPARE(m_form->ShowModal(), pressOk ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(m_fixture->storedOptions().autoConnect.has_value(), pressOk);
}

QTEST_MAIN(TestConfigOptions)
#include "tst_configoptions.moc"
