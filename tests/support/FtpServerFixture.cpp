#include "FtpServerFixture.h"

#include <QtGlobal>

namespace {
QStringList serverArguments(const QString& rootDir, const FtpServerFixture::Options& options)
{
    QStringList args{"--root", rootDir, "--user", options.user, "--password", options.password};
    if (options.anonymous)
        args << "--anonymous";
    if (!options.mlsd)
        args << "--no-mlsd";
    if (options.passiveOnly)
        args << "--passive-only";
    if (options.activeOnly)
        args << "--active-only";
    if (options.readOnly)
        args << "--read-only";
    if (options.ipv6)
        args << "--ipv6";
    return args;
}
} // namespace

FtpServerFixture::~FtpServerFixture()
{
    stop();
}

bool FtpServerFixture::start(const QString& rootDir, const Options& options)
{
    m_ipv6 = options.ipv6;
    m_port = m_server.start(QStringLiteral(ZUL_TEST_SUPPORT_DIR "/ftpserver.py"),
                            serverArguments(rootDir, options));
    return m_port != 0;
}

void FtpServerFixture::stop()
{
    m_port = 0;
    m_server.stop();
}

bool FtpServerFixture::isRunning() const
{
    return m_server.isRunning();
}

QString FtpServerFixture::errorOutput()
{
    return m_server.errorOutput();
}
