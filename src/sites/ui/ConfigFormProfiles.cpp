#include "sites/ui/ConfigForm.h"

#include "app/SettingsStore.h"
#include "sites/ui/TypingLimit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

void TfrmConfig::FormCreate()
{
    m_store = ProfileStore(ProfileFilePath());
}

void TfrmConfig::ListSiteNames()
{
    ::ListSiteNames(*this, m_store);
}

void TfrmConfig::LoadSiteProfile(const QString& name)
{
    ::LoadSiteProfile(*this, m_store, name);
}

ProfileSaveResult TfrmConfig::SaveSiteProfile()
{
    return ::SaveSiteProfile(*this, m_store, m_prompter);
}

void TfrmConfig::DeleteSiteProfile(const QString& name)
{
    ::DeleteSiteProfile(*this, m_store, m_prompter, name);
}

QString TfrmConfig::readOptions()
{
    const ConfigureOptions stored = ReadConfigureOptions(m_prompter);
    if (stored.defaultLocalPath)
        txtDefaultPath->setText(*stored.defaultLocalPath);
    if (stored.lowerCaseUpload)
        chkLowerCase->setChecked(*stored.lowerCaseUpload);
    if (stored.autoConnect)
        chkAutoConnect->setChecked(*stored.autoConnect);
    return stored.lastSite.value_or(QString());
}

bool TfrmConfig::writeOptions()
{
    txtDefaultPath->setText(
        ConfigLogic::EffectiveDefaultPath(txtDefaultPath->text(), DefaultLocalFolder()));
    return WriteConfigureOptions(txtSiteName->text(), txtDefaultPath->text(),
                                 chkLowerCase->isChecked(), chkAutoConnect->isChecked(),
                                 m_prompter);
}

SiteProfile TfrmConfig::profileFields() const
{
    return {txtSiteName->text(),
            txtHost->text(),
            txtPort->text(),
            txtUserID->text(),
            txtPassword->text(),
            txtDirectory->text(),
            cboEncryption->currentData().toString()};
}

void TfrmConfig::setProfileFields(const SiteProfile& fields)
{
    SetFieldText(txtSiteName, fields.siteName);
    SetFieldText(txtHost, fields.host);
    SetFieldText(txtPort, fields.port);
    SetFieldText(txtUserID, fields.userID);
    SetFieldText(txtPassword, fields.password);
    SetFieldText(txtDirectory, fields.directory);
    // A value this version does not know is shown as the strictest choice, which is also how
    // it connects.
    const int index = cboEncryption->findData(fields.encryption);
    cboEncryption->setCurrentIndex(
        index >= 0 ? index : cboEncryption->findData(QString::fromLatin1(kEncryptionRequired)));
}

void TfrmConfig::setPortField(const QString& port)
{
    SetFieldText(txtPort, port);
}

QStringList TfrmConfig::siteNameItems() const
{
    QStringList items;
    for (int i = 0; i < cboSiteName->count(); ++i)
        items.append(cboSiteName->itemText(i));
    return items;
}

void TfrmConfig::clearSiteNameItems()
{
    cboSiteName->clear();
}

void TfrmConfig::addSiteNameItem(const QString& name)
{
    // A sorted list places a new item after every item that sorts before or equal to it.
    int at = 0;
    while (at < cboSiteName->count() &&
           cboSiteName->itemText(at).compare(name, Qt::CaseInsensitive) <= 0)
        ++at;
    const bool noneSelected = cboSiteName->currentIndex() < 0;
    cboSiteName->insertItem(at, name);
    // The combo box selects the first item put into an empty list; the site list does not.
    if (noneSelected)
        cboSiteName->setCurrentIndex(-1);
}

void TfrmConfig::removeSiteNameItem(int index)
{
    cboSiteName->removeItem(index);
}

QString TfrmConfig::siteNameText() const
{
    return siteListText();
}

bool TfrmConfig::siteChanged() const
{
    return SiteChanged;
}

void TfrmConfig::setSiteChanged(bool changed)
{
    SiteChanged = changed;
}

void TfrmConfig::newSite()
{
    btnNewClick();
}
