#include "ScriptedPrompter.h"
#include "sites/ConfigLogic.h"

#include <QTest>

using namespace ConfigLogic;

class TestConfigLogic : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trimRemovesBlanksAndControlsAtTheEndsOnly_data();
    void trimRemovesBlanksAndControlsAtTheEndsOnly();
    void portFilterKeepsDigitsAndBackspaceOnly_data();
    void portFilterKeepsDigitsAndBackspaceOnly();
    void typingLimitNeverBlocksShortening_data();
    void typingLimitNeverBlocksShortening();
    void centringTruncatesTowardZero_data();
    void centringTruncatesTowardZero();
    void emptyDefaultFolderBecomesExecutableFolder_data();
    void emptyDefaultFolderBecomesExecutableFolder();
    void closeQueryAsksOnlyWhenChanged_data();
    void closeQueryAsksOnlyWhenChanged();
};

void TestConfigLogic::trimRemovesBlanksAndControlsAtTheEndsOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("blanks only") << QStringLiteral("   ") << QString();
    QTest::newRow("tab and line feed") << QStringLiteral("\t\n") << QString();
    QTest::newRow("control characters") << QStringLiteral("\x01\x1f") << QString();
    QTest::newRow("inner blanks kept")
        << QStringLiteral("  my site  ") << QStringLiteral("my site");
    QTest::newRow("no-break space is text") << QStringLiteral("\u00a0") << QStringLiteral("\u00a0");
    QTest::newRow("tilde is text") << QStringLiteral(" ~ ") << QStringLiteral("~");
}

void TestConfigLogic::trimRemovesBlanksAndControlsAtTheEndsOnly()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(TrimBlanksAndControls(text), trimmed);
}

void TestConfigLogic::portFilterKeepsDigitsAndBackspaceOnly_data()
{
    QTest::addColumn<int>("ch");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0") << int('0') << true;
    QTest::newRow("9") << int('9') << true;
    QTest::newRow("backspace") << 8 << true;
    QTest::newRow("slash, just below 0") << int('/') << false;
    QTest::newRow("colon, just above 9") << int(':') << false;
    QTest::newRow("letter") << int('a') << false;
    QTest::newRow("blank") << int(' ') << false;
    QTest::newRow("minus") << int('-') << false;
    QTest::newRow("ctrl+v") << 22 << false;
    QTest::newRow("ctrl+c") << 3 << false;
    QTest::newRow("arabic-indic digit") << 0x0663 << false;
    QTest::newRow("fullwidth digit") << 0xFF11 << false;
}

void TestConfigLogic::portFilterKeepsDigitsAndBackspaceOnly()
{
    QFETCH(int, ch);
    QFETCH(bool, accepted);
    QCOMPARE(IsPortCharAccepted(static_cast<char16_t>(ch)), accepted);
}

void TestConfigLogic::typingLimitNeverBlocksShortening_data()
{
    QTest::addColumn<int>("oldLength");
    QTest::addColumn<int>("newLength");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("up to the limit") << 39 << 40 << true;
    QTest::newRow("past the limit") << 40 << 41 << false;
    QTest::newRow("paste far past") << 0 << 100 << false;
    QTest::newRow("loaded long text shortened") << 50 << 49 << true;
    QTest::newRow("loaded long text replaced same size") << 50 << 50 << true;
    QTest::newRow("loaded long text grown") << 50 << 51 << false;
}

void TestConfigLogic::typingLimitNeverBlocksShortening()
{
    QFETCH(int, oldLength);
    QFETCH(int, newLength);
    QFETCH(bool, allowed);
    QCOMPARE(TypingWithinLimit(oldLength, newLength, kSiteNameLimit), allowed);
}

void TestConfigLogic::centringTruncatesTowardZero_data()
{
    QTest::addColumn<QRect>("mainFrame");
    QTest::addColumn<QSize>("ownSize");
    QTest::addColumn<QPoint>("origin");
    QTest::newRow("design sizes") << QRect(214, 173, 776, 578) << QSize(409, 316)
                                  << QPoint(214 + 183, 173 + 131);
    QTest::newRow("odd difference rounds down")
        << QRect(0, 0, 101, 101) << QSize(50, 50) << QPoint(25, 25);
    QTest::newRow("dialog larger, odd difference truncates toward zero")
        << QRect(100, 100, 300, 200) << QSize(401, 301) << QPoint(100 - 50, 100 - 50);
    QTest::newRow("main window off the left edge")
        << QRect(-500, -20, 600, 400) << QSize(401, 289) << QPoint(-500 + 99, -20 + 55);
}

void TestConfigLogic::centringTruncatesTowardZero()
{
    QFETCH(QRect, mainFrame);
    QFETCH(QSize, ownSize);
    QFETCH(QPoint, origin);
    QCOMPARE(CentredOrigin(mainFrame, ownSize), origin);
}

void TestConfigLogic::emptyDefaultFolderBecomesExecutableFolder_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("stored");
    const QString exe = QStringLiteral("/opt/zulftp/bin/");
    QTest::newRow("empty") << QString() << exe;
    QTest::newRow("blanks") << QStringLiteral("   ") << exe;
    QTest::newRow("tab") << QStringLiteral("\t") << exe;
    QTest::newRow("folder kept as it stands")
        << QStringLiteral(" /home/me/ ") << QStringLiteral(" /home/me/ ");
}

void TestConfigLogic::emptyDefaultFolderBecomesExecutableFolder()
{
    QFETCH(QString, field);
    QFETCH(QString, stored);
    QCOMPARE(EffectiveDefaultPath(field, QStringLiteral("/opt/zulftp/bin/")), stored);
}

void TestConfigLogic::closeQueryAsksOnlyWhenChanged_data()
{
    QTest::addColumn<bool>("changed");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<int>("saveResult");
    QTest::addColumn<bool>("saveExpected");
    QTest::addColumn<bool>("mayClose");
    QTest::newRow("unchanged: nothing asked") << false << false << 0 << false << true;
    QTest::newRow("changed, No") << true << false << 0 << false << true;
    QTest::newRow("changed, Yes, written")
        << true << true << int(ProfileSaveResult::Written) << true << true;
    QTest::newRow("changed, Yes, overwrite declined")
        << true << true << int(ProfileSaveResult::Declined) << true << true;
    QTest::newRow("changed, Yes, name refused stays open")
        << true << true << int(ProfileSaveResult::Refused) << true << false;
    QTest::newRow("changed, Yes, write failed stays open")
        << true << true << int(ProfileSaveResult::Failed) << true << false;
}

void TestConfigLogic::closeQueryAsksOnlyWhenChanged()
{
    QFETCH(bool, changed);
    QFETCH(bool, answerYes);
    QFETCH(int, saveResult);
    QFETCH(bool, saveExpected);
    QFETCH(bool, mayClose);
    ScriptedPrompter prompter;
    if (changed)
        prompter.expectBeep(MB_ICONQUESTION)
            .expectYesNo(QString::fromLatin1(kCloseQuestionText), answerYes);
    int saves = 0;
    const bool result = CloseQuery(changed, prompter, [&] {
        ++saves;
        return static_cast<ProfileSaveResult>(saveResult);
    });
    QCOMPARE(result, mayClose);
    QCOMPARE(saves, saveExpected ? 1 : 0);
    QVERIFY(prompter.verifyDone());
}

QTEST_APPLESS_MAIN(TestConfigLogic)
#include "tst_configlogic.moc"
