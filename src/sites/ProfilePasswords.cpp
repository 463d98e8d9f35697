#include "sites/ProfilePasswords.h"

#include "common/Prompter.h"

namespace {

const QString kNoKeyringText = QStringLiteral("No desktop keyring is available.");

PasswordKeyring::Result noKeyring()
{
    return {PasswordKeyring::Status::Unavailable, {}, kNoKeyringText};
}

QString reasonText(const PasswordKeyring::Result& result)
{
    if (result.status == PasswordKeyring::Status::NotFound)
        return QStringLiteral("it holds no password for this site");
    return result.error.isEmpty() ? kNoKeyringText : result.error;
}

} // namespace

PasswordKeyring::Result FetchKeyringPassword(SiteProfile& profile, const ProfileStore& store,
                                             PasswordKeyring* keyring)
{
    if (!profile.passwordInKeyring)
        return {PasswordKeyring::Status::Ok, profile.password, {}};
    const PasswordKeyring::Result got =
        keyring ? keyring->read(store.keyringEntry(profile.siteName)) : noKeyring();
    profile.password = got.status == PasswordKeyring::Status::Ok ? got.password : QString();
    profile.passwordUnread = got.status != PasswordKeyring::Status::Ok;
    return got;
}

QString PlacePassword(SiteProfile& profile, const ProfileStore& store, PasswordKeyring* keyring,
                      bool useKeyring)
{
    // A password that could not be read is not known here: the keyring keeps its copy.
    if (profile.passwordUnread) {
        profile.passwordInKeyring = true;
        return {};
    }
    const bool wasInKeyring =
        store.contains(profile.siteName) && store.read(profile.siteName).passwordInKeyring;
    if (useKeyring && !profile.password.isEmpty()) {
        profile.passwordInKeyring = true;
        const PasswordKeyring::Result stored =
            keyring ? keyring->write(store.keyringEntry(profile.siteName), profile.password)
                    : noKeyring();
        if (stored.status == PasswordKeyring::Status::Ok)
            return {};
        return QStringLiteral("The password of \"%1\" could not be stored in the desktop "
                              "keyring: %2\nIt has not been written to the profile file "
                              "either; you will be asked for it when you connect.")
            .arg(profile.siteName, reasonText(stored));
    }
    profile.passwordInKeyring = false;
    // The file holds the password now (or the site has none): an older copy in the keyring
    // would only be a stale secret.
    if (wasInKeyring && keyring)
        keyring->remove(store.keyringEntry(profile.siteName));
    return {};
}

QString MovePasswords(const ProfileStore& store, PasswordKeyring* keyring, bool toKeyring)
{
    QStringList stayed;
    QString reason;
    for (const QString& name : store.siteNames()) {
        SiteProfile profile = store.read(name);
        const QString entry = store.keyringEntry(name);
        if (toKeyring) {
            if (profile.passwordInKeyring || profile.password.isEmpty())
                continue;
            const PasswordKeyring::Result stored =
                keyring ? keyring->write(entry, profile.password) : noKeyring();
            profile.passwordInKeyring = true;
            if (stored.status != PasswordKeyring::Status::Ok) {
                stayed << name;
                reason = reasonText(stored);
            } else if (!store.writePassword(profile)) {
                stayed << name;
                reason = store.writeErrorText();
            }
            continue;
        }
        if (!profile.passwordInKeyring)
            continue;
        const PasswordKeyring::Result got = keyring ? keyring->read(entry) : noKeyring();
        // A site whose password is nowhere keeps its marker, so the connect asks for it.
        if (got.status == PasswordKeyring::Status::NotFound)
            continue;
        profile.password = got.password;
        profile.passwordInKeyring = false;
        if (got.status != PasswordKeyring::Status::Ok) {
            stayed << name;
            reason = reasonText(got);
        } else if (!store.writePassword(profile)) {
            stayed << name;
            reason = store.writeErrorText();
        } else {
            keyring->remove(entry);
        }
    }
    if (stayed.isEmpty())
        return {};
    const QString sites =
        QLatin1Char('"') + stayed.join(QStringLiteral("\", \"")) + QLatin1Char('"');
    if (toKeyring)
        return QStringLiteral("The passwords of these sites could not be moved into the desktop "
                              "keyring and stay in the profile file: %1\n%2")
            .arg(sites, reason);
    return QStringLiteral("The passwords of these sites could not be taken out of the desktop "
                          "keyring and stay there: %1\n%2")
        .arg(sites, reason);
}

std::optional<QString> PasswordForConnect(const SiteProfile& site, PasswordKeyring* keyring,
                                          Prompter& prompter)
{
    const ProfileStore store(ProfileFilePath());
    SiteProfile profile = site;
    const PasswordKeyring::Result got = FetchKeyringPassword(profile, store, keyring);
    if (got.status == PasswordKeyring::Status::Ok)
        return profile.password;
    const QString prompt =
        QStringLiteral("The desktop keyring did not give the password of \"%1\": %2\n"
                       "Password for %3 on %4 (used for this connection only):")
            .arg(site.siteName, reasonText(got), site.userID, site.host);
    return prompter.inputPassword(QString::fromLatin1(kPasswordPromptCaption), prompt);
}
