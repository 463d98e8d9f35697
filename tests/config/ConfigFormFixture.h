#pragma once
#include "app/SettingsStore.h"
#include "sites/ProfileStore.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A fresh data folder for each test, so the dialog's profile file and settings start empty
// and the user's own files are never touched.
class ConfigFormFixture
{
public:
    ConfigFormFixture();
    ~ConfigFormFixture();

    bool isValid() const { return m_home.isValid(); }
    QString home() const { return m_home.path(); }
    QString iniPath() const;
    // The profile file's bytes; empty when it does not exist.
    QByteArray iniBytes() const;
    bool iniExists() const;
    // Stores a profile straight into the file, bypassing the dialog.
    void seedProfile(const QString& name, const QString& host, const QString& port = {},
                     const QString& user = {}, const QString& password = {},
                     const QString& directory = {}) const;
    SiteProfile readProfile(const QString& name) const;
    QStringList storedSiteNames() const;
    // The dialog's four stored options as the dialog itself would read them.
    ConfigureOptions storedOptions() const;

private:
    QTemporaryDir m_home;
    QByteArray m_oldHome;
};
