#include "ScriptedPrompter.h"
#include "about/ui/AboutForm.h"

#include <QDate>
#include <QDesktopServices>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

// The About box and --version, both reading the version from the executable file.
class TestAbout : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void openUrl(const QUrl& url) { m_opened << url.toString(); }

private Q_SLOTS:
    void versionComesFromTheExecutableFile();
    void linkOpensBrowserAndKeysClose();

private:
    QStringList m_opened;
};

namespace {
const QString kVersion = QStringLiteral(ZUL_PROJECT_VERSION);

struct Run
{
    int exitCode = -1;
    QString out;
};

Run run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    return result;
}
} // namespace

void TestAbout::versionComesFromTheExecutableFile()
{
    QCOMPARE(kVersion, QStringLiteral("1.0.0.124"));
    ScriptedPrompter prompter;
    TfrmAbout built(prompter, nullptr, QStringLiteral(ZUL_EXECUTABLE));
    QCOMPARE(built.lblVersion->text(), QStringLiteral("Version ") + kVersion);
    QCOMPARE(built.lblVersion->accessibleName(), built.lblVersion->text());
    QVERIFY(built.lblNotice->text().contains(QString::number(QDate::currentDate().year())));
    Run version = run(QStringLiteral(ZUL_EXECUTABLE), {QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QStringLiteral("ZUL-FTP %1\n").arg(kVersion));

    QTemporaryDir dir;
    const QString stripped = dir.filePath(QStringLiteral("zulftp"));
    const Run removed =
        run(QStringLiteral(ZUL_OBJCOPY), {QStringLiteral("--remove-section=.zulftp.version"),
                                          QStringLiteral(ZUL_EXECUTABLE), stripped});
    QCOMPARE(removed.exitCode, 0);
    TfrmAbout copy(prompter, nullptr, stripped);
    QCOMPARE(copy.lblVersion->text(), QStringLiteral("Version "));
    version = run(stripped, {QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 1);
    QVERIFY(version.out.isEmpty());
    QVERIFY(prompter.verifyDone());
}

void TestAbout::linkOpensBrowserAndKeysClose()
{
    ScriptedPrompter prompter;
    QWidget main;
    main.setGeometry(101, 53, 803, 611);
    TfrmAbout box(prompter, &main);
    QVERIFY(!(box.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(box.Label1->font().bold());
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    // Centred over the main window, as every dialog of the program is.
    const QRect owner = main.frameGeometry();
    QCOMPARE(box.pos(), owner.topLeft() + QPoint((owner.width() - box.width()) / 2,
                                                 (owner.height() - box.height()) / 2));
    QCOMPARE(box.lblWeb->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(box.lblWeb->font().underline());
    QTest::mouseClick(box.lblWeb, Qt::LeftButton);
    QCOMPARE(m_opened, QStringList{QString::fromLatin1(TfrmAbout::kWebAddress)});
    QVERIFY(box.isVisible());
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    // OK is the default and the cancel button: Enter and Escape both close the box.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::keyClick(&box, key);
        QVERIFY(!box.isVisible());
    }
    QVERIFY(prompter.verifyDone());
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
