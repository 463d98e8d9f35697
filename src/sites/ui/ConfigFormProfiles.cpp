#include "sites/ui/ConfigForm.h"

#include "app/SettingsStore.h"
#include "common/Prompter.h"
#include "sites/ProfilePasswords.h"
#include "sites/ui/TypingLimit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

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
    bool useKeyring = m_keyring && chkPasswordsInKeyring->isChecked();
    // Without an unlocked default keyring, the service would open a window of its own in the
    // middle of the save (a password for a new keyring, or to unlock one), which nothing here
    // explained. The password is kept as it is without a keyring, and the user told so.
    const bool keyringClosed = useKeyring && !m_passwordUnread && !txtPassword->text().isEmpty() &&
                               m_keyring->asksBeforeStoring();
    if (keyringClosed)
        useKeyring = false;
    const ProfileSaveResult result =
        ::SaveSiteProfile(*this, m_store, m_prompter, m_keyring, useKeyring);
    if (keyringClosed && result == ProfileSaveResult::Written) {
        showKeyringNote(false);
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(
            QStringLiteral("Warning"),
            QStringLiteral("The desktop keyring has no unlocked keyring, so the password of "
                           "\"%1\" was saved in the profile file, scrambled, as it is without "
                           "a keyring. Unlock the keyring (or create one), then press OK here "
                           "to move the passwords into it.")
                .arg(txtSiteName->text()),
            MessageIcon::Warning);
    }
    return result;
}

void TfrmConfig::showKeyringNote(bool open)
{
    lblKeyringNote->setVisible(m_keyring != nullptr && !open);
    lblKeyringNote->setText(
        open ? QString()
             : QStringLiteral("The desktop keyring has no unlocked keyring now (none was "
                              "made yet, or it is locked): passwords are kept in the "
                              "profile file, scrambled, until one is unlocked."));
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
    chkBackgroundTransfers->setChecked(Settings.BackgroundTransfers);
    txtSimultaneousTransfers->setValue(Settings.SimultaneousTransfers);
    // Until the user has chosen, the keyring is offered wherever it can take a password
    // without a window of its own.
    if (m_keyring) {
        const bool closed = m_keyring->asksBeforeStoring();
        showKeyringNote(!closed);
        chkPasswordsInKeyring->setChecked(stored.passwordsInKeyring
                                              ? *stored.passwordsInKeyring
                                              : !closed && m_keyring->available());
    } else {
        showKeyringNote(true);
    }
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
    if (!WriteTransferOptions(chkBackgroundTransfers->isChecked(),
                              txtSimultaneousTransfers->value(), m_prompter))
        return false;
    Settings.BackgroundTransfers = chkBackgroundTransfers->isChecked();
    Settings.SimultaneousTransfers = txtSimultaneousTransfers->value();
    if (inKeyring)
        movePasswords(*inKeyring);
    return true;
}

void TfrmConfig::movePasswords(bool toKeyring)
{
    if (toKeyring && m_keyring->asksBeforeStoring()) {
        // Nothing moves where the keyring would open a window of its own to take it; the
        // passwords the file holds stay there, and the user is told so.
        QStringList inFile;
        for (const QString& name : m_store.siteNames()) {
            const SiteProfile profile = m_store.read(name);
            if (!profile.passwordInKeyring && !profile.password.isEmpty())
                inFile << name;
        }
        if (inFile.isEmpty())
            return;
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(QStringLiteral("Warning"),
                           QStringLiteral("The desktop keyring has no unlocked keyring, so the "
                                          "passwords of these sites stay in the profile file: "
                                          "\"%1\"")
                               .arg(inFile.join(QStringLiteral("\", \""))),
                           MessageIcon::Warning);
        return;
    }
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
    constexpr int kKnownProtocols = 3;
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
