#include "lasterror.h"
#include "winver.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

// The version block and the version calls: lookups in a good block, blocks and executables
// that are damaged or foreign, and the program's own file name.
class TestVersionInfo : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void builtBlockAnswersLookups();
    void damagedBlocksNeverReadOutside();
    void executableFiles();
    void moduleFileName();

private:
    QTemporaryDir m_dir;
};

namespace {
std::vector<BYTE> sampleBlock()
{
    return BuildVersionInfo("1.0.0.124",
                            {{"ProductName", "ZUL-FTP"}, {"FileVersion", "1.0.0.124"}});
}

QString query(const std::vector<BYTE>& block, const char* path)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path, &value, &length))
        return QStringLiteral("<none %1>").arg(GetLastError());
    return QString::fromUtf8(static_cast<const char*>(value), length ? length - 1 : 0);
}

QString objcopy(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(ZUL_OBJCOPY), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QString::fromLocal8Bit(process.readAllStandardError()) + QStringLiteral(" failed");
    return QString();
}
} // namespace

void TestVersionInfo::builtBlockAnswersLookups()
{
    const std::vector<BYTE> block = sampleBlock();
    QCOMPARE(query(block, "\\StringFileInfo\\040904E4\\FileVersion"), QStringLiteral("1.0.0.124"));
    QCOMPARE(query(block, "\\stringfileinfo\\040904e4\\productname"), QStringLiteral("ZUL-FTP"));
    QCOMPARE(query(block, "\\StringFileInfo\\040904E4\\CompanyName"),
             QStringLiteral("<none %1>").arg(ERROR_RESOURCE_DATA_NOT_FOUND));
    QCOMPARE(query(block, "\\StringFileInfo\\04090000\\FileVersion"),
             QStringLiteral("<none %1>").arg(ERROR_RESOURCE_DATA_NOT_FOUND));

    void* value = nullptr;
    UINT length = 0;
    QVERIFY(VerQueryValueA(block.data(), "\\", &value, &length));
    QCOMPARE(length, UINT(sizeof(VS_FIXEDFILEINFO)));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    QCOMPARE(fixed->dwSignature, VS_FFI_SIGNATURE);
    QCOMPARE(fixed->dwFileVersionMS, DWORD(0x00010000));
    QCOMPARE(fixed->dwFileVersionLS, DWORD(124));
    QVERIFY(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
    QCOMPARE(length, UINT(4));
    QCOMPARE(std::memcmp(value, "\x09\x04\xE4\x04", 4), 0);
}

void TestVersionInfo::damagedBlocksNeverReadOutside()
{
    // Every byte set to each of a few values, the block cut at every length: a lookup may
    // fail but must stay inside the block (the sanitizer build checks the reads).
    const std::vector<BYTE> good = sampleBlock();
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (const BYTE value : {BYTE(0x00), BYTE(0x01), BYTE(0x7F), BYTE(0xFF)}) {
            std::vector<BYTE> block = good;
            block[at] = value;
            // The caller's buffer holds as many bytes as the root claims, as
            // GetFileVersionInfoA guarantees.
            block.resize(std::max<std::size_t>(block.size(), block[0] | (block[1] << 8)));
            query(block, "\\StringFileInfo\\040904E4\\FileVersion");
            query(block, "\\");
        }
    }
    for (std::size_t length = 0; length < good.size(); ++length) {
        std::vector<BYTE> block(good.begin(), good.begin() + std::ptrdiff_t(length));
        block.resize(std::max<std::size_t>(length, 2));
        const std::size_t root = std::min<std::size_t>(length, 0xFFFF);
        block[0] = BYTE(root & 0xFF);
        block[1] = BYTE(root >> 8);
        const QString found = query(block, "\\StringFileInfo\\040904E4\\FileVersion");
        QVERIFY(found == QStringLiteral("1.0.0.124") || found.startsWith(QStringLiteral("<none")));
    }
}

void TestVersionInfo::executableFiles()
{
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    QCOMPARE(GetFileVersionInfoSizeA(self.constData(), nullptr), DWORD(0));
    QCOMPARE(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);

    // A copy with a block added is read from the file on disk.
    const std::vector<BYTE> block = sampleBlock();
    const QString blockFile = m_dir.filePath(QStringLiteral("block.bin"));
    const QString withBlock = m_dir.filePath(QStringLiteral("with-block"));
    QFile out(blockFile);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(reinterpret_cast<const char*>(block.data()), qint64(block.size()));
    out.close();
    const QString error =
        objcopy({QStringLiteral("--add-section"), QStringLiteral(".zulftp.version=") + blockFile,
                 QString::fromUtf8(self), withBlock});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray path = QFile::encodeName(withBlock);
    DWORD handle = 1;
    const DWORD size = GetFileVersionInfoSizeA(path.constData(), &handle);
    QCOMPARE(size, DWORD(block.size()));
    QCOMPARE(handle, DWORD(0));
    std::vector<BYTE> read(size);
    QVERIFY(!GetFileVersionInfoA(path.constData(), 0, size - 1, read.data()));
    QCOMPARE(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    QVERIFY(GetFileVersionInfoA(path.constData(), 0, size, read.data()));
    QCOMPARE(query(read, "\\StringFileInfo\\040904E4\\FileVersion"), QStringLiteral("1.0.0.124"));

    // Files that are not executables, or only the start of one.
    QFile source(withBlock);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray head = source.read(4096);
    struct Case
    {
        const char* name;
        QByteArray contents;
        DWORD error;
    };
    const Case cases[] = {{"text", "just some text\n", ERROR_BAD_EXE_FORMAT},
                          {"empty", QByteArray(), ERROR_BAD_EXE_FORMAT},
                          {"elf-header-only", head.left(64), ERROR_BAD_EXE_FORMAT},
                          {"elf-start", head, ERROR_BAD_EXE_FORMAT}};
    for (const Case& c : cases) {
        const QString file = m_dir.filePath(QString::fromLatin1(c.name));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(c.contents);
        f.close();
        QCOMPARE(GetFileVersionInfoSizeA(QFile::encodeName(file).constData(), nullptr), DWORD(0));
        QCOMPARE(GetLastError(), c.error);
    }
    QCOMPARE(
        GetFileVersionInfoSizeA(QFile::encodeName(m_dir.filePath("missing")).constData(), nullptr),
        DWORD(0));
    QCOMPARE(GetLastError(), ERROR_FILE_NOT_FOUND);
}

void TestVersionInfo::moduleFileName()
{
    char path[4096];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    QCOMPARE(QFile::decodeName(QByteArray(path, int(length))),
             QCoreApplication::applicationFilePath());
    char small[5];
    QCOMPARE(GetModuleFileNameA(nullptr, small, sizeof small), DWORD(sizeof small));
    QCOMPARE(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    QCOMPARE(QByteArray(small), QByteArray(path, 4));
}

QTEST_GUILESS_MAIN(TestVersionInfo)
#include "tst_versioninfo.moc"
