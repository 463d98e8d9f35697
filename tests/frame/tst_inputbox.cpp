// The program's input box: a title bar wide enough for its whole title, a fixed size, and
// what it answers; and the question before plain FTP, which keys cannot answer with a yes.
#include "app/ui/QtPrompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestInputBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void titleFitsAndAnswerComesBack_data();
    void titleFitsAndAnswerComesBack();
    void plainFtpBoxSendsNothingUnlessClicked_data();
    void plainFtpBoxSendsNothingUnlessClicked();
    void existsBoxAnswersWithTheButtonAndTheCheckBox_data();
    void existsBoxAnswersWithTheButtonAndTheCheckBox();
};

Q_DECLARE_METATYPE(PlainFtpAnswer)

void TestInputBox::titleFitsAndAnswerComesBack_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
}

void TestInputBox::titleFitsAndAnswerComesBack()
{
    QFETCH(bool, accept);
    const QString title = QStringLiteral("New Folder Name");
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(title);
    QSize size;
    bool fixed = false;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), title);
        size = box->size();
        fixed = box->minimumSize() == box->maximumSize();
        box->setTextValue(QStringLiteral("Reports"));
        if (accept)
            box->accept();
        else
            box->reject();
    });
    QtPrompter prompter;
    const std::optional<QString> answer =
        prompter.inputBox(title, QStringLiteral("Create New Folder"), QString());
    QCOMPARE(answer, accept ? std::optional<QString>(QStringLiteral("Reports")) : std::nullopt);
    // Room for the title in the desktop's bold face beside the icon and the buttons.
    QVERIFY2(size.width() >= titleWidth + QtPrompter::kTitleBarExtras,
             qPrintable(QStringLiteral("%1 < %2").arg(size.width()).arg(titleWidth)));
    QVERIFY(fixed);
}

void TestInputBox::plainFtpBoxSendsNothingUnlessClicked_data()
{
    QTest::addColumn<bool>("loud");
    QTest::addColumn<QString>("action"); // a key, or the object name of a button to click
    QTest::addColumn<PlainFtpAnswer>("expected");
    QTest::newRow("Enter") << false << "Enter" << PlainFtpAnswer::Cancel;
    QTest::newRow("Escape") << false << "Escape" << PlainFtpAnswer::Cancel;
    QTest::newRow("Enter, loud") << true << "Enter" << PlainFtpAnswer::Cancel;
    QTest::newRow("once") << false << "btnPlainOnce" << PlainFtpAnswer::ConnectOnce;
    QTest::newRow("always") << false << "btnPlainAlways" << PlainFtpAnswer::AllowAlways;
    QTest::newRow("once, loud") << true << "btnPlainOnce" << PlainFtpAnswer::ConnectOnce;
}

void TestInputBox::plainFtpBoxSendsNothingUnlessClicked()
{
    QFETCH(bool, loud);
    QFETCH(QString, action);
    QFETCH(PlainFtpAnswer, expected);
    bool alwaysOffered = false;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        alwaysOffered = box->findChild<QPushButton*>(QStringLiteral("btnPlainAlways"));
        if (action == QLatin1String("Enter") || action == QLatin1String("Escape")) {
            QTest::keyClick(box,
                            action == QLatin1String("Enter") ? Qt::Key_Return : Qt::Key_Escape);
        } else if (auto* button = box->findChild<QPushButton*>(action)) {
            button->click();
        } else {
            box->reject();
        }
    });
    QtPrompter prompter;
    QCOMPARE(prompter.askPlainFtp(QStringLiteral("No Encryption"), QStringLiteral("text"), loud),
             expected);
    // A server that has shown a trusted certificate before is never allowed plain FTP for good.
    QCOMPARE(alwaysOffered, !loud);
}

void TestInputBox::existsBoxAnswersWithTheButtonAndTheCheckBox_data()
{
    QTest::addColumn<bool>("canResume");
    QTest::addColumn<QString>("button"); // empty: the window is closed
    QTest::addColumn<bool>("rest");
    QTest::addColumn<int>("action");
    QTest::addColumn<QStringList>("offered");
    const QStringList all{"Overwrite", "OverwriteIfNewer", "Resume", "Rename", "Skip"};
    const QStringList noResume{"Overwrite", "OverwriteIfNewer", "Rename", "Skip"};
    QTest::newRow("resume, for the rest")
        << true << "Resume" << true << int(ExistsAction::Resume) << all;
    QTest::newRow("not shorter: no resume")
        << false << "OverwriteIfNewer" << false << int(ExistsAction::OverwriteIfNewer) << noResume;
    QTest::newRow("rename") << false << "Rename" << false << int(ExistsAction::Rename) << noResume;
    QTest::newRow("closed: cancel") << true << "" << true << int(ExistsAction::Cancel) << all;
}

void TestInputBox::existsBoxAnswersWithTheButtonAndTheCheckBox()
{
    QFETCH(bool, canResume);
    QFETCH(QString, button);
    QFETCH(bool, rest);
    QFETCH(int, action);
    QFETCH(QStringList, offered);
    QStringList shown;
    QString defaultButton;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        for (QAbstractButton* b : box->buttons()) {
            if (!b->objectName().isEmpty())
                shown << b->objectName();
        }
        defaultButton = box->defaultButton() ? box->defaultButton()->objectName() : QString();
        box->checkBox()->setChecked(rest);
        if (button.isEmpty())
            box->reject();
        else
            box->findChild<QPushButton*>(button)->click();
    });
    QtPrompter prompter;
    const ExistsAnswer answer = prompter.askExists(QStringLiteral("Target File Exists"),
                                                   QStringLiteral("a.txt"), canResume);
    QCOMPARE(int(answer.action), action);
    QCOMPARE(answer.applyToRest, rest && !button.isEmpty());
    QCOMPARE(shown, offered);
    QCOMPARE(defaultButton, QStringLiteral("Skip"));
}

QTEST_MAIN(TestInputBox)
#include "tst_inputbox.moc"
