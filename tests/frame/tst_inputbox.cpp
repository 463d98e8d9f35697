// The program's input box: a title bar wide enough for its whole title, a fixed size, and
// what it answers; and the question before plain FTP, which keys cannot answer with a yes.
#include "app/ui/QtPrompter.h"

#include <QApplication>
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

QTEST_MAIN(TestInputBox)
#include "tst_inputbox.moc"
