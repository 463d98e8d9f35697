#include "sites/ui/ConfigForm.h"

#include "app/SettingsStore.h"
#include "common/Prompter.h"
#include "sites/ProfilePasswords.h"
#include "sites/ui/TypingLimit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

void TfrmConfig::FormCreate()
{
    m_store = ProfileStore(ProfileFilePath());
}

void TfrmConfig::setKeyring(PasswordKeyring* keyring)
{
    m_keyring = keyring;
    chkPasswordsInKeyring->setEnabled(keyring != nullptr);
}

void TfrmConfig::ListSiteNames()
{
    ::ListSiteNames(*this, m_store);
}

void TfrmConfig::LoadSiteProfile(const QString& name)
{
    ::LoadSiteProfile(*this, m_store, name, m_keyring);
}

ProfileSaveResult TfrmConfig::SaveSiteProfile()
{
    return ::SaveSiteProfile(*this, m_store, m_prompter, m_keyring,
                             m_keyring && chkPasswordsInKeyring->isChecked());
}

void TfrmConfig::DeleteSiteProfile(const QString& name)
{
    ::DeleteSiteProfile(*this, m_store, m_prompter, name, m_keyring);
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
    // Until the user has chosen, the keyring is offered wherever one answers.
    if (m_keyring)
        chkPasswordsInKeyring->setChecked(stored.passwordsInKeyring ? *stored.passwordsInKeyring
                                                                    : m_keyring->available());
    return stored.lastSite.value_or(QString());
}

bool TfrmConfig::writeOptions()
{
    txtDefaultPath->setText(
        ConfigLogic::EffectiveDefaultPath(txtDefaultPath->text(), DefaultLocalFolder()));
    const std::optional<bool> inKeyring =
        m_keyring ? std::optional<bool>(chkPasswordsInKeyring->isChecked()) : std::nullopt;
    if (!WriteConfigureOptions(txtSiteName->text(), txtDefaultPath->text(),
                               chkLowerCase->isChecked(), chkAutoConnect->isChecked(), m_prompter,
                               inKeyring))
        return false;
    if (inKeyring)
        movePasswords(*inKeyring);
    return true;
}

void TfrmConfig::movePasswords(bool toKeyring)
{
    const QString warning = MovePasswords(m_store, m_keyring, toKeyring);
    if (warning.isEmpty())
        return;
    m_prompter.messageBeep(MB_ICONEXCLAMATION);
    m_prompter.message(QStringLiteral("Warning"), warning, MessageIcon::Warning);
}

void TfrmConfig::txtPasswordChange()
{
    m_passwordUnread = false;
    txtPassword->setPlaceholderText(QString());
}

SiteProfile TfrmConfig::profileFields() const
{
    return {txtSiteName->text(),
            txtHost->text(),
            txtPort->text(),
            txtUserID->text(),
            txtPassword->text(),
            txtDirectory->text(),
            cboEncryption->currentData().toString(),
            false,
            m_passwordUnread,
            false,
            cboProtocol->currentData().toString()};
}

void TfrmConfig::setProfileFields(const SiteProfile& fields)
{
    SetFieldText(txtSiteName, fields.siteName);
    SetFieldText(txtHost, fields.host);
    SetFieldText(txtPort, fields.port);
    SetFieldText(txtUserID, fields.userID);
    SetFieldText(txtPassword, fields.password);
    SetFieldText(txtDirectory, fields.directory);
    // Set after the field, whose change clears it.
    m_passwordUnread = fields.passwordUnread;
    if (m_passwordUnread)
        txtPassword->setPlaceholderText(QStringLiteral("(in the desktop keyring, not readable)"));
    // A value this version does not know is shown as the strictest choice, which is also how
    // it connects.
    const int index = cboEncryption->findData(fields.encryption);
    cboEncryption->setCurrentIndex(
        index >= 0 ? index : cboEncryption->findData(QString::fromLatin1(kEncryptionRequired)));
    // The stored port stays, not the protocol's default. A protocol of a later version is
    // shown and kept as it is, never saved as FTP.
    const QString port = txtPort->text();
    constexpr int kKnownProtocols = 2;
    if (cboProtocol->currentIndex() >= kKnownProtocols)
        cboProtocol->setCurrentIndex(0);
    while (cboProtocol->count() > kKnownProtocols)
        cboProtocol->removeItem(kKnownProtocols);
    int protocol = fields.protocol.isEmpty() || fields.protocol == QLatin1String(kProtocolFtp)
                       ? 0
                       : cboProtocol->findData(fields.protocol);
    if (protocol < 0) {
        cboProtocol->addItem(fields.protocol, fields.protocol);
        protocol = kKnownProtocols;
    }
    cboProtocol->setCurrentIndex(protocol);
    SetFieldText(txtPort, port);
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
