// The program's input box: a title bar wide enough for its whole title, a fixed size, and
// what it answers.
#include "app/ui/QtPrompter.h"

#include <QApplication>
#include <QFontMetrics>
#include <QInputDialog>
#include <QTest>
#include <QTimer>

class TestInputBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void titleFitsAndAnswerComesBack_data();
    void titleFitsAndAnswerComesBack();
};

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

QTEST_MAIN(TestInputBox)
#include "tst_inputbox.moc"
