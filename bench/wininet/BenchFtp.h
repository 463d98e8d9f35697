#pragma once
// The timed operations of the benchmark: one through our internet client layer, one through
// curl, each doing the same work against the same server so their times compare directly.
#include <QString>
#include <QStringList>

#include <cstdint>

struct BenchServer
{
    quint16 port = 0;
    QString user;
    QString password;
    QString caFile =
        {}; // not empty: TLS required, the server's certificate issued by this authority
};

// What one timed run did; `ok` false with `error` when it failed.
struct BenchRun
{
    bool ok = false;
    double seconds = 0;
    std::uint64_t bytes = 0;     // transferred
    std::uint64_t entries = 0;   // listed
    std::uint64_t peakBytes = 0; // listing: how far resident memory rose above its start
    QString error;
};

// Downloads `remoteName` through InternetReadFile in `blockSize` calls, discarding the data.
BenchRun ourDownload(const BenchServer& server, const QString& remoteName, unsigned blockSize);
// Uploads a local file through InternetWriteFile in `blockSize` calls, read as it goes.
BenchRun ourUpload(const BenchServer& server, const QString& localPath, const QString& remoteName,
                   unsigned blockSize);
// The whole FtpFindFirstFileA / InternetFindNextFileA loop over the folder `remoteFolder`.
BenchRun ourListing(const BenchServer& server, const QString& remoteFolder);

// curl with `arguments` after the common ones (silent, the account); its wall time.
BenchRun curlRun(const BenchServer& server, const QStringList& arguments);
QString ftpUrl(const BenchServer& server, const QString& path);
