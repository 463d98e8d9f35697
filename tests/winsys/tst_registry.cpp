// The registry stand-in: typed values kept in a REGEDIT4 file, Win32 return codes, and a
// damaged file reported and left alone.
#include "datafolder.h"
#include "registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const char* const kKey = "\\Software\\Tarnwick\\ZUL-FTP";

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

// Reads a value whole: its type and bytes, or the error code.
LONG query(HKEY key, const char* name, DWORD& type, QByteArray& data)
{
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS)
        return rc;
    data = QByteArray(static_cast<qsizetype>(size), '\0');
    rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size);
    data.truncate(static_cast<qsizetype>(size));
    return rc;
}

HKEY createKey(const char* path = kKey)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, &disposition);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

QByteArray dword(DWORD value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

    QTemporaryDir* m_home = nullptr;
    QString m_file;

private Q_SLOTS:
    void init()
    {
        m_home = new QTemporaryDir;
        qputenv("ZULFTP_HOME", m_home->path().toUtf8());
        m_file = m_home->path() + "/zulftp.reg";
        QCOMPARE(QString::fromStdString(RegistryFilePath()), m_file);
    }
    void cleanup()
    {
        delete m_home;
        m_home = nullptr;
    }

    void valuesSurviveTheFile_data()
    {
        QTest::addColumn<DWORD>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("fileLine");
        QTest::newRow("text") << REG_SZ << QByteArray("Local demo\0", 11)
                              << QByteArray("\"V\"=\"Local demo\"");
        QTest::newRow("quotes and backslashes") << REG_SZ << QByteArray("C:\\a \"b\"\0", 9)
                                                << QByteArray("\"V\"=\"C:\\\\a \\\"b\\\"\"");
        QTest::newRow("empty text") << REG_SZ << QByteArray("\0", 1) << QByteArray("\"V\"=\"\"");
        QTest::newRow("line break in text")
            << REG_SZ << QByteArray("a\nb\0", 4) << QByteArray("\"V\"=hex(1):61,0a,62,00");
        QTest::newRow("text without its NUL")
            << REG_SZ << QByteArray("ab") << QByteArray("\"V\"=hex(1):61,62");
        QTest::newRow("expandable text") << REG_EXPAND_SZ << QByteArray("%HOME%\0", 7)
                                         << QByteArray("\"V\"=hex(2):25,48,4f,4d,45,25,00");
        QTest::newRow("minus two")
            << REG_DWORD << dword(0xFFFFFFFEu) << QByteArray("\"V\"=dword:fffffffe");
        QTest::newRow("zero") << REG_DWORD << dword(0) << QByteArray("\"V\"=dword:00000000");
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += static_cast<char>(b);
        QTest::newRow("every byte") << REG_BINARY << all << QByteArray("\"V\"=hex:00,01,02");
        QTest::newRow("no bytes") << REG_BINARY << QByteArray() << QByteArray("\"V\"=hex:");
    }
    void valuesSurviveTheFile()
    {
        QFETCH(DWORD, type);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, fileLine);
        HKEY key = createKey();
        QVERIFY(key);
        QCOMPARE(RegSetValueExA(key, "V", 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                                static_cast<DWORD>(data.size())),
                 ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);

        const QByteArray text = readFile(m_file);
        QVERIFY2(text.startsWith("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarnwick\\ZUL-FTP]\n"),
                 text.constData());
        QVERIFY2(text.contains(fileLine), text.constData());

        QVERIFY(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS);
        DWORD readType = 0;
        QByteArray readData;
        QCOMPARE(query(key, "v", readType, readData), ERROR_SUCCESS); // names ignore case
        QCOMPARE(readType, type);
        QCOMPARE(readData, data);
        RegCloseKey(key);
    }

    void keysAndQueriesFollowWin32Rules()
    {
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key),
                 ERROR_FILE_NOT_FOUND);
        QVERIFY(!key);
        QVERIFY(!QFile::exists(m_file)); // a failed open writes nothing

        DWORD disposition = 0;
        QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 &key, &disposition),
                 ERROR_SUCCESS);
        QCOMPARE(disposition, REG_CREATED_NEW_KEY);
        struct stat st = {};
        QVERIFY(::stat(m_file.toUtf8().constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t{0600}); // it may hold what the user typed
        const QByteArray text = "Ten chars";
        QCOMPARE(
            RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()), 10),
            ERROR_SUCCESS);
        DWORD type = 0;
        DWORD size = 0;
        char small[4];
        size = sizeof small;
        QCOMPARE(
            RegQueryValueExA(key, "Text", nullptr, &type, reinterpret_cast<LPBYTE>(small), &size),
            ERROR_MORE_DATA);
        QCOMPARE(size, DWORD{10});
        QCOMPARE(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_INVALID_HANDLE);
        QCOMPARE(RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size),
                 ERROR_INVALID_HANDLE);

        // Names ignore letter case, the parents of a key exist, and a second create opens.
        QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\TARNWICK", 0, KEY_ALL_ACCESS, &key),
                 ERROR_SUCCESS);
        RegCloseKey(key);
        QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\tarnwick\\zul-ftp", 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &key, &disposition),
                 ERROR_SUCCESS);
        QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
        RegCloseKey(key);
        // Another root is another tree.
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key),
                 ERROR_FILE_NOT_FOUND);
    }

    void handWrittenFileIsRead()
    {
        writeFile(m_file, "\r\nREGEDIT4\r\n; kept by hand\r\n"
                          "[HKEY_LOCAL_MACHINE\\Software\\Tarnwick\\ZUL-FTP]\r\n"
                          "\"LastSite\" = \"Home\"\r\n"
                          "@=\"default\"\r\n"
                          "\"Bytes\"=hex:01,02,\\\r\n  03,04\r\n");
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        DWORD type = 0;
        QByteArray data;
        QCOMPARE(query(key, "LastSite", type, data), ERROR_SUCCESS);
        QCOMPARE(data, QByteArray("Home\0", 5));
        QCOMPARE(query(key, nullptr, type, data), ERROR_SUCCESS);
        QCOMPARE(data, QByteArray("default\0", 8));
        QCOMPARE(query(key, "Bytes", type, data), ERROR_SUCCESS);
        QCOMPARE(type, REG_BINARY);
        QCOMPARE(data, QByteArray("\x01\x02\x03\x04"));
        RegCloseKey(key);
    }

    void damagedFileIsReportedAndKept_data()
    {
        QTest::addColumn<QByteArray>("contents");
        const QByteArray head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarnwick\\ZUL-FTP]\n";
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("torn in a string") << head + "\"LastSite\"=\"Hom";
        QTest::newRow("torn in a name") << head + "\"LastS";
        QTest::newRow("torn after a continuation") << head + "\"B\"=hex:01,\\\n";
        QTest::newRow("torn in a key line") << QByteArray("REGEDIT4\n\n[HKEY_LOCAL_MACH");
        QTest::newRow("no header") << QByteArray("[HKEY_LOCAL_MACHINE\\Software]\n");
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe garbage", 11);
        QTest::newRow("bad dword") << head + "\"X\"=dword:12345678z\n";
        QTest::newRow("long dword") << head + "\"X\"=dword:123456789\n";
        QTest::newRow("odd hex") << head + "\"X\"=hex:1\n";
        QTest::newRow("unknown escape") << head + "\"X\"=\"a\\nb\"\n";
        QTest::newRow("value before any key") << QByteArray("REGEDIT4\n\"X\"=dword:1\n");
        QTest::newRow("deletion entry") << QByteArray("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n");
    }
    void damagedFileIsReportedAndKept()
    {
        QFETCH(QByteArray, contents);
        // A handle opened while the file was sound must not write over the damage either.
        HKEY earlier = createKey();
        QVERIFY(earlier);
        writeFile(m_file, contents);

        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_BADDB);
        DWORD disposition = 0;
        QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 &key, &disposition),
                 ERROR_BADDB);
        const DWORD one = 1;
        QCOMPARE(RegSetValueExA(earlier, "AutoConnect", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&one), sizeof one),
                 ERROR_BADDB);
        DWORD type = 0;
        QByteArray data;
        QCOMPARE(query(earlier, "AutoConnect", type, data), ERROR_BADDB);
        RegCloseKey(earlier);
        QCOMPARE(readFile(m_file), contents);
    }

    void badArgumentsAreRefused()
    {
        HKEY key = createKey();
        QVERIFY(key);
        const DWORD value = 7;
        const auto* bytes = reinterpret_cast<const BYTE*>(&value);
        QCOMPARE(RegSetValueExA(key, "Line\nBreak", 0, REG_DWORD, bytes, 4),
                 ERROR_INVALID_PARAMETER);
        QCOMPARE(RegSetValueExA(key, "Short", 0, REG_DWORD, bytes, 2), ERROR_INVALID_PARAMETER);
        HKEY sub = nullptr;
        DWORD disposition = 0;
        QCOMPARE(
            RegCreateKeyExA(key, "a]b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition),
            ERROR_INVALID_PARAMETER);
        QCOMPARE(
            RegOpenKeyExA(reinterpret_cast<HKEY>(ULONG_PTR{0x1234}), "x", 0, KEY_ALL_ACCESS, &sub),
            ERROR_INVALID_HANDLE);
        RegCloseKey(key);
        QVERIFY(!readFile(m_file).contains("Short"));
    }

    // The file may hold a password: owner-only after every write, whatever mode it had.
    void replacedFileBecomesOwnerOnly()
    {
        HKEY key = createKey();
        QVERIFY(key);
        QVERIFY(::chmod(m_file.toUtf8().constData(), 0640) == 0);
        const DWORD value = 3;
        QCOMPARE(RegSetValueExA(key, "V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
                 ERROR_SUCCESS);
        RegCloseKey(key);
        struct stat st = {};
        QVERIFY(::stat(m_file.toUtf8().constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t{0600});
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
