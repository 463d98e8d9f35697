#include "TransferTestHost.h"

#include "transfer/TransferEngine.h"
#include "transfer/UploadFile.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <unistd.h>

// A file past 4 GiB makes the round trip whole, with byte counts that do not wrap at 2 or
// 4 GiB. The local file is sparse, so only the transfer itself costs time.
class TransferLargeTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fileBeyondFourGiBRoundTrips();
};

namespace {
constexpr qint64 kSize = 4LL * 1024 * 1024 * 1024 + 4097;

// Writes `text` at `offset` of the file at `path`, extending it as needed.
bool WriteAt(const QString& path, qint64 offset, const QByteArray& text)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::pwrite(fd, text.constData(), size_t(text.size()), offset) == text.size();
    ::close(fd);
    return ok;
}

QByteArray ReadAt(const QString& path, qint64 offset, qsizetype length)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    return file.read(length);
}
} // namespace

void TransferLargeTest::fileBeyondFourGiBRoundTrips()
{
    QTemporaryDir serverRoot;
    QTemporaryDir localDir;
    FtpServerFixture server;
    QVERIFY(server.start(serverRoot.path()));
    TestConnection connection;
    QVERIFY(connection.open(server.port()));
    TestTransferHost host;
    host.connection = connection.connection;
    host.folder = localDir.path();

    // Markers just past 2 GiB, just past 4 GiB and at the very end; zeros everywhere else.
    const QString source = localDir.filePath("big.img");
    const QList<std::pair<qint64, QByteArray>> markers = {
        {0, "start"},
        {2LL * 1024 * 1024 * 1024 + 1, "past two"},
        {4LL * 1024 * 1024 * 1024 + 3, "past four"},
        {kSize - 3, "end"}};
    for (const auto& [offset, text] : markers)
        QVERIFY(WriteAt(source, offset, text));
    QCOMPARE(QFileInfo(source).size(), kSize);

    QElapsedTimer timer;
    timer.start();
    QVERIFY(UploadFile(host, source, TransferMode::Binary));
    QCOMPARE(QFileInfo(serverRoot.filePath("big.img")).size(), kSize);
    QCOMPARE(host.sink.lastDone, kSize);
    QCOMPARE(host.sink.lastTotal, kSize);
    QCOMPARE(host.sink.lastPercent, 100);

    QVERIFY(QFile::remove(source));
    QVERIFY(DownloadFile(host, "big.img", "big.img", kSize, TransferMode::Binary));
    QCOMPARE(QFileInfo(source).size(), kSize);
    QCOMPARE(host.sink.lastDone, kSize);
    QCOMPARE(host.sink.lastPercent, 100);
    for (const auto& [offset, text] : markers)
        QCOMPARE(ReadAt(source, offset, text.size()), text);
    QCOMPARE(host.log, QStringList());
    qInfo("round trip of %lld bytes took %lld ms", kSize, timer.elapsed());
}

QTEST_GUILESS_MAIN(TransferLargeTest)
#include "tst_transferlarge.moc"
