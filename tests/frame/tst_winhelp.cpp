#include "lasterror.h"
#include "winhelp.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <string>

// The help call: what reaches the viewer, and the error codes when it cannot.
class TestWinHelp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void showsRequestedContext_data();
    void showsRequestedContext();
    void failsWithoutShowing_data();
    void failsWithoutShowing();
    void quitReachesViewerEvenWithoutFile();
    void contextAnchorForms_data();
    void contextAnchorForms();
    void shippedManualLinksResolve();

private:
    QString writeFile(const QByteArray& contents);

    QTemporaryDir m_dir;
};

namespace {

struct Shown
{
    int calls = 0;
    std::string file;
    UINT command = 0;
    DWORD context = 0;
};
Shown g_shown;

BOOL recordViewer(void*, HWND, LPCSTR file, UINT command, DWORD context)
{
    ++g_shown.calls;
    g_shown.file = file ? file : "";
    g_shown.command = command;
    g_shown.context = context;
    return TRUE;
}

const QByteArray kManual = "<html><body><a name=\"1000\"></a><h1>Contents</h1>"
                           "<h2 id=\"2000\">Connecting</h2></body></html>";

} // namespace

QString TestWinHelp::writeFile(const QByteArray& contents)
{
    const QString path = m_dir.filePath(QStringLiteral("zulftp.hlp"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write the help file");
    return path;
}

void TestWinHelp::init()
{
    g_shown = {};
    SetWinHelpViewer(&recordViewer, nullptr);
}

void TestWinHelp::cleanup()
{
    SetWinHelpViewer(nullptr, nullptr);
}

void TestWinHelp::showsRequestedContext_data()
{
    QTest::addColumn<UINT>("command");
    QTest::addColumn<qulonglong>("data");
    QTest::addColumn<DWORD>("context");
    QTest::newRow("contents by number") << HELP_CONTEXT << qulonglong(1000) << DWORD(1000);
    QTest::newRow("topic by id") << HELP_CONTEXT << qulonglong(2000) << DWORD(2000);
    QTest::newRow("contents command") << HELP_CONTENTS << qulonglong(0) << DWORD(1000);
    QTest::newRow("finder command") << HELP_FINDER << qulonglong(0) << DWORD(1000);
}

void TestWinHelp::showsRequestedContext()
{
    QFETCH(UINT, command);
    QFETCH(qulonglong, data);
    QFETCH(DWORD, context);
    const QByteArray path = writeFile(kManual).toUtf8();
    QCOMPARE(WinHelpA(nullptr, path.constData(), command, data), TRUE);
    QCOMPARE(GetLastError(), ERROR_SUCCESS);
    QCOMPARE(g_shown.calls, 1);
    QCOMPARE(QByteArray::fromStdString(g_shown.file), path);
    QCOMPARE(g_shown.command, HELP_CONTEXT);
    QCOMPARE(g_shown.context, context);
}

void TestWinHelp::failsWithoutShowing_data()
{
    QTest::addColumn<QString>("fileKind");
    QTest::addColumn<UINT>("command");
    QTest::addColumn<qulonglong>("data");
    QTest::addColumn<bool>("viewer");
    QTest::addColumn<DWORD>("error");
    QTest::newRow("missing file") << "missing" << HELP_CONTEXT << qulonglong(1000) << true
                                  << ERROR_FILE_NOT_FOUND;
    QTest::newRow("folder instead of file")
        << "folder" << HELP_CONTEXT << qulonglong(1000) << true << ERROR_READ_FAULT;
    QTest::newRow("no such topic")
        << "manual" << HELP_CONTEXT << qulonglong(1234) << true << ERROR_INVALID_DATA;
    QTest::newRow("topic number is a prefix")
        << "manual" << HELP_CONTEXT << qulonglong(100) << true << ERROR_INVALID_DATA;
    QTest::newRow("context beyond 32 bits")
        << "manual" << HELP_CONTEXT << qulonglong(0x100000000ull + 1000) << true
        << ERROR_INVALID_PARAMETER;
    QTest::newRow("unknown command")
        << "manual" << UINT(0x77) << qulonglong(1000) << true << ERROR_INVALID_PARAMETER;
    QTest::newRow("null file name")
        << "null" << HELP_CONTEXT << qulonglong(1000) << true << ERROR_INVALID_PARAMETER;
    QTest::newRow("no viewer") << "manual" << HELP_CONTEXT << qulonglong(1000) << false
                               << ERROR_INVALID_HANDLE;
}

void TestWinHelp::failsWithoutShowing()
{
    QFETCH(QString, fileKind);
    QFETCH(UINT, command);
    QFETCH(qulonglong, data);
    QFETCH(bool, viewer);
    QFETCH(DWORD, error);
    QByteArray path;
    if (fileKind == QLatin1String("manual"))
        path = writeFile(kManual).toUtf8();
    else if (fileKind == QLatin1String("missing"))
        path = m_dir.filePath(QStringLiteral("absent.hlp")).toUtf8();
    else if (fileKind == QLatin1String("folder"))
        path = m_dir.path().toUtf8();
    if (!viewer)
        SetWinHelpViewer(nullptr, nullptr);
    SetLastError(ERROR_SUCCESS);
    QCOMPARE(WinHelpA(nullptr, path.isNull() ? nullptr : path.constData(), command, data), FALSE);
    QCOMPARE(GetLastError(), error);
    QCOMPARE(g_shown.calls, 0);
}

void TestWinHelp::quitReachesViewerEvenWithoutFile()
{
    QCOMPARE(WinHelpA(nullptr, nullptr, HELP_QUIT, 0), TRUE);
    QCOMPARE(g_shown.calls, 1);
    QCOMPARE(g_shown.command, HELP_QUIT);
}

void TestWinHelp::contextAnchorForms_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<bool>("found");
    QTest::newRow("name, double quotes") << QByteArray("<a name=\"1000\">") << true;
    QTest::newRow("name, single quotes") << QByteArray("<a name='1000'>") << true;
    QTest::newRow("id") << QByteArray("<h1 id=\"1000\">") << true;
    QTest::newRow("longer number") << QByteArray("<a name=\"10000\">") << false;
    QTest::newRow("number in text only") << QByteArray("<p>1000</p>") << false;
    QTest::newRow("href to it") << QByteArray("<a href=\"#1000\">") << false;
}

void TestWinHelp::contextAnchorForms()
{
    QFETCH(QByteArray, html);
    QFETCH(bool, found);
    QCOMPARE(HelpTextHasContext(html.constData(), static_cast<size_t>(html.size()), 1000), found);
}

void TestWinHelp::shippedManualLinksResolve()
{
    // Every "#N" link of the manual leads to a topic of that number, the contents included.
    QFile manual(QStringLiteral(ZUL_SOURCE_DIR "/data/zulftp.hlp"));
    QVERIFY(manual.open(QIODevice::ReadOnly));
    const QByteArray text = manual.readAll();
    QVERIFY(HelpTextHasContext(text.constData(), std::size_t(text.size()), kHelpContentsContext));
    const QRegularExpression link(QStringLiteral("href=\"#(\\d+)\""));
    int links = 0;
    for (const QRegularExpressionMatch& match : link.globalMatch(QString::fromUtf8(text))) {
        ++links;
        QVERIFY2(HelpTextHasContext(text.constData(), std::size_t(text.size()),
                                    match.captured(1).toUInt()),
                 qPrintable(match.captured(0)));
    }
    QVERIFY(links > 10);
}

QTEST_GUILESS_MAIN(TestWinHelp)
#include "tst_winhelp.moc"
