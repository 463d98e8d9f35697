#include "ConfigFormFixture.h"

#include "ScriptedPrompter.h"

#include <QFile>
#include <QTest>

ConfigFormFixture::ConfigFormFixture() : m_oldHome(qgetenv("ZULFTP_HOME"))
{
    qputenv("ZULFTP_HOME", QFile::encodeName(m_home.path()));
    Settings = {};
    ResetSettingsMessages();
}

ConfigFormFixture::~ConfigFormFixture()
{
    if (m_oldHome.isNull())
        qunsetenv("ZULFTP_HOME");
    else
        qputenv("ZULFTP_HOME", m_oldHome);
}

QString ConfigFormFixture::iniPath() const
{
    return m_home.filePath(QStringLiteral("zulftp.ini"));
}

QByteArray ConfigFormFixture::iniBytes() const
{
    QFile file(iniPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool ConfigFormFixture::iniExists() const
{
    return QFile::exists(iniPath());
}

void ConfigFormFixture::seedProfile(const QString& name, const QString& host, const QString& port,
                                    const QString& user, const QString& password,
                                    const QString& directory) const
{
    const ProfileStore store(iniPath());
    QVERIFY(store.write({name, host, port, user, password, directory}));
}

SiteProfile ConfigFormFixture::readProfile(const QString& name) const
{
    return ProfileStore(iniPath()).read(name);
}

QStringList ConfigFormFixture::storedSiteNames() const
{
    return ProfileStore(iniPath()).siteNames();
}

ConfigureOptions ConfigFormFixture::storedOptions() const
{
    ScriptedPrompter quiet;
    ConfigureOptions options = ReadConfigureOptions(quiet);
    quiet.verifyDone();
    return options;
}
