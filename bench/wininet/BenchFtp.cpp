#include "BenchFtp.h"

#include "../ResidentMemory.h"

#include "wininet.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <vector>

namespace {

// Closes an internet handle when it goes out of scope.
class Handle
{
public:
    explicit Handle(HINTERNET handle = nullptr) : m_handle(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void reset(HINTERNET handle)
    {
        close();
        m_handle = handle;
    }
    // Closing a write handle is where the server confirms the upload, so it is checked.
    bool close()
    {
        const bool ok = !m_handle || InternetCloseHandle(m_handle) != FALSE;
        m_handle = nullptr;
        return ok;
    }

private:
    HINTERNET m_handle;
};

QString failure(const char* what)
{
    return QStringLiteral("%1 failed (%2)").arg(QLatin1String(what)).arg(GetLastError());
}

// A logged-on connection; `error` says why when `connection` is null.
struct Session
{
    Handle internet;
    Handle connection;
    QString error;

    explicit Session(const BenchServer& server)
        : internet(InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0))
    {
        if (!internet) {
            error = failure("InternetOpenA");
            return;
        }
        connection.reset(InternetConnectA(
            internet.get(), "127.0.0.1", server.port, server.user.toUtf8().constData(),
            server.password.toUtf8().constData(), INTERNET_SERVICE_FTP,
            server.caFile.isEmpty() ? 0 : INTERNET_FLAG_SECURE, 0));
        if (!connection)
            error = failure("InternetConnectA");
    }
};

} // namespace

BenchRun ourDownload(const BenchServer& server, const QString& remoteName, unsigned blockSize)
{
    BenchRun run;
    QElapsedTimer timer;
    timer.start();
    Session session(server);
    if (!session.connection) {
        run.error = session.error;
        return run;
    }
    Handle file(FtpOpenFileA(session.connection.get(), remoteName.toUtf8().constData(),
                             GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
    if (!file) {
        run.error = failure("FtpOpenFileA");
        return run;
    }
    std::vector<char> block(blockSize);
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(file.get(), block.data(), blockSize, &got)) {
            run.error = failure("InternetReadFile");
            return run;
        }
        if (got == 0)
            break;
        run.bytes += got;
    }
    if (!file.close()) {
        run.error = failure("InternetCloseHandle");
        return run;
    }
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.ok = true;
    return run;
}

BenchRun ourUpload(const BenchServer& server, const QString& localPath, const QString& remoteName,
                   unsigned blockSize)
{
    BenchRun run;
    QFile local(localPath);
    if (!local.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        run.error = local.errorString();
        return run;
    }
    QElapsedTimer timer;
    timer.start();
    Session session(server);
    if (!session.connection) {
        run.error = session.error;
        return run;
    }
    Handle file(FtpOpenFileA(session.connection.get(), remoteName.toUtf8().constData(),
                             GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0));
    if (!file) {
        run.error = failure("FtpOpenFileA");
        return run;
    }
    // Read the way the transfer engine reads: one block from the file, then one write call.
    std::vector<char> block(blockSize);
    for (;;) {
        const qint64 got = local.read(block.data(), blockSize);
        if (got < 0) {
            run.error = local.errorString();
            return run;
        }
        if (got == 0)
            break;
        DWORD written = 0;
        if (!InternetWriteFile(file.get(), block.data(), DWORD(got), &written) ||
            written != DWORD(got)) {
            run.error = failure("InternetWriteFile");
            return run;
        }
        run.bytes += written;
    }
    if (!file.close()) {
        run.error = failure("InternetCloseHandle (upload not confirmed)");
        return run;
    }
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.ok = true;
    return run;
}

BenchRun ourListing(const BenchServer& server, const QString& remoteFolder)
{
    BenchRun run;
    QElapsedTimer timer;
    timer.start();
    Session session(server);
    if (!session.connection) {
        run.error = session.error;
        return run;
    }
    if (!FtpSetCurrentDirectoryA(session.connection.get(), remoteFolder.toUtf8().constData())) {
        run.error = failure("FtpSetCurrentDirectoryA");
        return run;
    }
    WIN32_FIND_DATAA data;
    const std::uint64_t residentBefore = bench::residentNow();
    bench::resetResidentPeak();
    Handle find(
        FtpFindFirstFileA(session.connection.get(), nullptr, &data, INTERNET_FLAG_RELOAD, 0));
    if (!find) {
        run.error = failure("FtpFindFirstFileA");
        return run;
    }
    do {
        ++run.entries;
    } while (InternetFindNextFileA(find.get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        run.error = failure("InternetFindNextFileA");
        return run;
    }
    run.peakBytes = bench::residentPeak() - std::min(residentBefore, bench::residentPeak());
    find.close();
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.ok = true;
    return run;
}

QString ftpUrl(const BenchServer& server, const QString& path)
{
    return QStringLiteral("ftp://127.0.0.1:%1/%2").arg(server.port).arg(path);
}

BenchRun curlRun(const BenchServer& server, const QStringList& arguments)
{
    BenchRun run;
    QProcess curl;
    curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList common{"--silent", "--show-error", "--user", server.user + ':' + server.password};
    if (!server.caFile.isEmpty())
        common << "--ssl-reqd"
               << "--cacert" << server.caFile;
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"), common + arguments);
    if (!curl.waitForFinished(-1) || curl.exitStatus() != QProcess::NormalExit ||
        curl.exitCode() != 0) {
        run.error = QStringLiteral("curl failed (exit code %1)").arg(curl.exitCode());
        return run;
    }
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.ok = true;
    return run;
}
