#include "FtpServerFixture.h"

#include <QProcess>
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
    if (options.noRename)
        args << "--no-rename";
    if (options.ipv6)
        args << "--ipv6";
    if (!options.tlsCertificate.isEmpty())
        args << "--tls-cert" << options.tlsCertificate;
    if (options.tlsRequired)
        args << "--tls-required";
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

bool FtpServerFixture::makeCertificate(const QString& dir, const QStringList& names,
                                       bool selfSigned)
{
    QStringList args{QStringLiteral(ZUL_TEST_SUPPORT_DIR "/makecert.py"), "--out", dir};
    for (const QString& name : names)
        args << "--name" << name;
    if (selfSigned)
        args << "--self-signed";
    QProcess maker;
    const QString python = qEnvironmentVariable("ZULFTP_PYTHON");
    maker.start(python.isEmpty() ? QStringLiteral("/usr/bin/python3") : python, args);
    return maker.waitForFinished(30000) && maker.exitStatus() == QProcess::NormalExit &&
           maker.exitCode() == 0;
}
