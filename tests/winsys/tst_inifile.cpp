// The INI profile functions: Win32 reading and truncation rules, rewrites that keep every
// other line, atomic replacement under a kill, and two writers that never lose an update.
#include "profile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

// The whole buffer a read fills, NULs included, up to the returned length plus its NULs.
QByteArray get(const char* section, const char* key, const char* fallback, DWORD size,
               const QString& file, DWORD* result = nullptr)
{
    QByteArray buffer(static_cast<qsizetype>(size) + 4, '\x7f');
    const DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size,
                                             file.toUtf8().constData());
    if (result)
        *result = n;
    // A list cut to the buffer ends in two NULs; anything else in one.
    const bool cutList = (!section || !key) && n + 2 == size;
    return buffer.left(static_cast<qsizetype>(n) + (cutList ? 2 : 1));
}

bool put(const char* section, const char* key, const char* value, const QString& file)
{
    return WritePrivateProfileStringA(section, key, value, file.toUtf8().constData()) != FALSE;
}

const QByteArray kSample = "; sites of the team\n"
                           "[Alpha]\n"
                           "Host = alpha.example \n"
                           "Quoted=\" two blanks  \"\n"
                           "Single='x'\n"
                           "OneQuote=\"x\n"
                           "; a comment = not a key\n"
                           "\n"
                           "[beta]\n"
                           "Port=21\n"
                           "[ALPHA]\n"
                           "Host=shadowed\n";

// Child mode: rewrites one key for ever, alternating two large values, until killed.
int writeForever(const char* file)
{
    const std::string a(4 << 20, 'a');
    const std::string b(4 << 20, 'b');
    for (unsigned i = 0;; ++i)
        WritePrivateProfileStringA("Big", "Value", (i % 2 ? a : b).c_str(), file);
}

// Child mode: writes `count` keys named after `tag` into one section.
int writeKeys(const char* file, const char* tag, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::string key = std::string(tag) + std::to_string(i);
        if (!WritePrivateProfileStringA("Shared", key.c_str(), "1", file))
            return 1;
    }
    return 0;
}

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT

    QTemporaryDir* m_dir = nullptr;
    QString m_file;

private Q_SLOTS:
    void init()
    {
        m_dir = new QTemporaryDir;
        m_file = m_dir->path() + "/zulftp.ini";
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    void readsFollowTheProfileRules_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("blanks trimmed")
            << QByteArray("Alpha") << QByteArray("Host") << QByteArray("alpha.example");
        QTest::newRow("letter case ignored")
            << QByteArray("ALPHA") << QByteArray("hOST") << QByteArray("alpha.example");
        QTest::newRow("enclosing quotes removed")
            << QByteArray("alpha") << QByteArray("Quoted") << QByteArray(" two blanks  ");
        QTest::newRow("single quotes removed")
            << QByteArray("alpha") << QByteArray("Single") << QByteArray("x");
        QTest::newRow("one quote kept")
            << QByteArray("alpha") << QByteArray("OneQuote") << QByteArray("\"x");
        QTest::newRow("comment is no key")
            << QByteArray("alpha") << QByteArray("; a comment") << QByteArray("dflt");
        QTest::newRow("second section")
            << QByteArray("Beta") << QByteArray("Port") << QByteArray("21");
        QTest::newRow("missing key")
            << QByteArray("Beta") << QByteArray("Host") << QByteArray("dflt");
        QTest::newRow("missing section")
            << QByteArray("Gamma") << QByteArray("Host") << QByteArray("dflt");
    }
    void readsFollowTheProfileRules()
    {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        writeFile(m_file, kSample);
        QCOMPARE(get(section, key, "dflt", 1024, m_file), expected + '\0');
    }

    void missingFileGivesDefaults()
    {
        QCOMPARE(get("A", "B", "21  ", 1024, m_file), QByteArray("21\0", 3)); // blanks dropped
        QCOMPARE(get("A", "B", nullptr, 1024, m_file), QByteArray("\0", 1));
        DWORD n = 99;
        QCOMPARE(get(nullptr, nullptr, nullptr, 16, m_file, &n), QByteArray("\0", 1));
        QCOMPARE(n, DWORD{0});
        QVERIFY(!QFile::exists(m_file));
    }

    void resultsAreCutToTheBuffer_data()
    {
        QTest::addColumn<bool>("list");
        QTest::addColumn<DWORD>("size");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<DWORD>("result");
        // The value is "alpha.example" (13); the list "Alpha\0beta\0" (11).
        QTest::newRow("value fits")
            << false << DWORD{14} << QByteArray("alpha.example\0", 14) << DWORD{13};
        QTest::newRow("value one short")
            << false << DWORD{13} << QByteArray("alpha.exampl\0", 13) << DWORD{12};
        QTest::newRow("value in one byte") << false << DWORD{1} << QByteArray("\0", 1) << DWORD{0};
        QTest::newRow("list fits")
            << true << DWORD{12} << QByteArray("Alpha\0beta\0\0", 12) << DWORD{11};
        QTest::newRow("list one short")
            << true << DWORD{11} << QByteArray("Alpha\0bet\0\0", 11) << DWORD{9};
        QTest::newRow("list cut in a name")
            << true << DWORD{5} << QByteArray("Alp\0\0", 5) << DWORD{3};
        QTest::newRow("list in two bytes") << true << DWORD{2} << QByteArray("\0\0", 2) << DWORD{0};
    }
    void resultsAreCutToTheBuffer()
    {
        QFETCH(bool, list);
        QFETCH(DWORD, size);
        QFETCH(QByteArray, expected);
        QFETCH(DWORD, result);
        writeFile(m_file, kSample);
        DWORD n = 0;
        const QByteArray got = list ? get(nullptr, nullptr, nullptr, size, m_file, &n)
                                    : get("Alpha", "Host", "", size, m_file, &n);
        QCOMPARE(n, result);
        QCOMPARE(got, expected);
    }

    void keyListOfASection()
    {
        writeFile(m_file, kSample);
        QCOMPARE(get("ALPHA", nullptr, nullptr, 256, m_file),
                 QByteArray("Host\0Quoted\0Single\0OneQuote\0\0", 29));
    }

    void writesKeepEveryOtherLine_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value"); // "<none>" for none
        QTest::addColumn<QByteArray>("expected");
        const QByteArray none = "<none>";
        QTest::newRow("overwrite keeps the header's case")
            << QByteArray("ALPHA") << QByteArray("host") << QByteArray("new")
            << QByteArray(kSample).replace("Host = alpha.example \n", "Host=new\n");
        QTest::newRow("new key after the section's last line")
            << QByteArray("alpha") << QByteArray("Port") << QByteArray("2121")
            << QByteArray(kSample).replace("not a key\n", "not a key\nPort=2121\n");
        QTest::newRow("new section at the end")
            << QByteArray("Gamma") << QByteArray("Host") << QByteArray("g")
            << kSample + "\n[Gamma]\nHost=g\n";
        QTest::newRow("erase a key") << QByteArray("Beta") << QByteArray("PORT") << none
                                     << QByteArray(kSample).replace("Port=21\n", "");
        QTest::newRow("erase a section and its copy")
            << QByteArray("alpha") << QByteArray() << none
            << QByteArray("; sites of the team\n[beta]\nPort=21\n");
        QTest::newRow("erase what is not there")
            << QByteArray("Beta") << QByteArray("Nope") << none << kSample;
    }
    void writesKeepEveryOtherLine()
    {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, expected);
        writeFile(m_file, kSample);
        QVERIFY(put(section, key.isEmpty() ? nullptr : key.constData(),
                    value == "<none>" ? nullptr : value.constData(), m_file));
        QCOMPARE(readFile(m_file), expected);
    }

    void windowsLineEndsAreKept()
    {
        writeFile(m_file, "[A]\r\nX=1\r\n[B]\r\nY=2");
        QVERIFY(put("B", "Z", "3", m_file));
        QVERIFY(put("A", "X", "9", m_file));
        QCOMPARE(readFile(m_file), QByteArray("[A]\r\nX=9\r\n[B]\r\nY=2\r\nZ=3\r\n"));
        // A last line ending in a lone CR reads the same before and after a write behind it.
        writeFile(m_file, "[B]\nY=2\r");
        QCOMPARE(get("B", "Y", "", 16, m_file), QByteArray("2", 2));
        QVERIFY(put("C", "Z", "3", m_file));
        QCOMPARE(get("B", "Y", "", 16, m_file), QByteArray("2", 2));
    }

    void firstWriteCreatesAPrivateFile()
    {
        QVERIFY(put("A", nullptr, nullptr, m_file)); // erasing what is not there creates nothing
        QVERIFY(!QFile::exists(m_file));
        QVERIFY(put("Site", "Password", "secret", m_file));
        QCOMPARE(readFile(m_file), QByteArray("[Site]\nPassword=secret\n"));
        struct stat st = {};
        QVERIFY(::stat(m_file.toUtf8().constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t{0600});
    }

    void linesThatWouldBreakTheFileAreRefused_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("bracket in section")
            << QByteArray("a]b") << QByteArray("K") << QByteArray("v");
        QTest::newRow("line break in section")
            << QByteArray("a\nb") << QByteArray("K") << QByteArray("v");
        QTest::newRow("equals in key") << QByteArray("S") << QByteArray("a=b") << QByteArray("v");
        QTest::newRow("key like a header")
            << QByteArray("S") << QByteArray("[x") << QByteArray("v");
        QTest::newRow("key like a comment")
            << QByteArray("S") << QByteArray(";x") << QByteArray("v");
        QTest::newRow("blank key") << QByteArray("S") << QByteArray("  ") << QByteArray("v");
        QTest::newRow("line feed in value")
            << QByteArray("S") << QByteArray("K") << QByteArray("v\n[Injected]");
        QTest::newRow("return in value")
            << QByteArray("S") << QByteArray("K") << QByteArray("v\rw");
    }
    void linesThatWouldBreakTheFileAreRefused()
    {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        writeFile(m_file, kSample);
        QVERIFY(!put(section, key, value, m_file));
        QCOMPARE(readFile(m_file), kSample);
    }

    void failedWriteLeavesTheOldFile()
    {
        writeFile(m_file, kSample);
        // A full disk, even for root: the file may not grow past its present size.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old = {};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = static_cast<rlim_t>(kSample.size());
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const bool written = put("Alpha", "Extra", "too much", m_file);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QCOMPARE(readFile(m_file), kSample);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"zulftp.ini"});
    }

    void killedWriterLeavesOldOrNewFile()
    {
        const QByteArray a = "[Big]\nValue=" + QByteArray(4 << 20, 'a') + "\n";
        const QByteArray b = "[Big]\nValue=" + QByteArray(4 << 20, 'b') + "\n";
        const QDir dir(m_dir->path());
        int cutMidWrite = 0;
        bool complete = false;
        for (int round = 0; round < 12; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {"--write-forever", m_file});
            QVERIFY(child.waitForStarted());
            // Wait for a write under way: its temporary file shows it.
            QElapsedTimer waited;
            waited.start();
            while (dir.entryList({"zulftp.ini.*"}, QDir::Files).isEmpty() &&
                   waited.elapsed() < 20000)
                QThread::usleep(100);
            QThread::usleep(static_cast<unsigned long>(round % 4) * 2000);
            child.kill(); // SIGKILL: no chance to tidy up
            QVERIFY(child.waitForFinished());
            const QByteArray now = readFile(m_file);
            // Until the first write has finished there is no file at all.
            if (complete || !now.isEmpty())
                QVERIFY2(now == a || now == b, "a torn profile file");
            complete = complete || !now.isEmpty();
            const QStringList left = dir.entryList({"zulftp.ini.*"}, QDir::Files);
            cutMidWrite += left.isEmpty() ? 0 : 1;
            for (const QString& name : left)
                QFile::remove(dir.filePath(name));
        }
        QVERIFY2(cutMidWrite > 0, "no kill landed inside a write; the test proved nothing");
    }

    void twoWritersLoseNothing()
    {
        QProcess first;
        QProcess second;
        first.start(QCoreApplication::applicationFilePath(), {"--write-keys", m_file, "first"});
        second.start(QCoreApplication::applicationFilePath(), {"--write-keys", m_file, "second"});
        QVERIFY(first.waitForFinished(60000) && second.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);
        for (const char* tag : {"first", "second"})
            for (int i = 0; i < 40; ++i)
                QCOMPARE(get("Shared", (tag + std::to_string(i)).c_str(), "lost", 16, m_file),
                         QByteArray("1\0", 2));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write-forever") == 0)
        return writeForever(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--write-keys") == 0)
        return writeKeys(argv[2], argv[3], 40);
    QCoreApplication app(argc, argv);
    TestIniFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_inifile.moc"
