#include "sites/ProfileStore.h"

#include "app/SettingsStore.h"
#include "common/Prompter.h"
#include "datafolder.h"
#include "lasterror.h"
#include "profile.h"
#include "sites/ProfilePasswords.h"

namespace {

// The design's buffers are 1024 bytes for a value and 8192 for the section list; a longer
// value or list would come back cut (a wrong directory, a lost site), so the buffer grows
// until the whole text fits.
constexpr DWORD kValueBuffer = 1024;
constexpr DWORD kListBuffer = 8192;
constexpr DWORD kLargestBuffer = 1 << 24;

QByteArray readValue(const QByteArray& file, const QByteArray& section, const char* key,
                     const QByteArray& fallback)
{
    for (DWORD size = kValueBuffer;; size *= 2) {
        QByteArray buffer(static_cast<qsizetype>(size), '\0');
        const DWORD n = GetPrivateProfileStringA(section.constData(), key, fallback.constData(),
                                                 buffer.data(), size, file.constData());
        if (n < size - 1 || size >= kLargestBuffer)
            return buffer.left(static_cast<qsizetype>(n));
    }
}

QList<QByteArray> readSectionNames(const QByteArray& file)
{
    for (DWORD size = kListBuffer;; size *= 2) {
        QByteArray buffer(static_cast<qsizetype>(size), '\0');
        const DWORD n = GetPrivateProfileStringA(nullptr, nullptr, nullptr, buffer.data(), size,
                                                 file.constData());
        if (n == size - 2 && size < kLargestBuffer)
            continue;
        QList<QByteArray> names;
        qsizetype at = 0;
        while (at < static_cast<qsizetype>(n)) {
            const qsizetype end = buffer.indexOf('\0', at);
            if (end <= at)
                break; // the empty name ends the list
            names.append(buffer.mid(at, end - at));
            at = end + 1;
        }
        return names;
    }
}

bool isBlankText(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 0x20)
            return false;
    return true;
}

bool sameSite(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

const QString kWarningCaption = QStringLiteral("Warning");
const QString kConfirmCaption = QStringLiteral("Confirm");
const QString kErrorCaption = QStringLiteral("ZUL-FTP");

} // namespace

QString ProfileFilePath()
{
    return QString::fromStdString(GetDataFolder()) + QStringLiteral("zulftp.ini");
}

QString SiteNameProblem(const QString& name)
{
    if (isBlankText(name) && !name.contains(QChar(u'\n')) && !name.contains(QChar(u'\r')))
        return QStringLiteral("You must enter a name for this web site.");
    if (name.contains(QChar(u']')))
        return QStringLiteral("A site name cannot contain a closing square bracket (]).");
    if (name.contains(QChar(u'\n')) || name.contains(QChar(u'\r')) || name.contains(QChar(u'\0')))
        return QStringLiteral("A site name cannot contain a line break.");
    return {};
}

ProfileStore::ProfileStore(QString filePath) : m_filePath(std::move(filePath)) {}

QStringList ProfileStore::siteNames() const
{
    QStringList names;
    for (const QByteArray& name : readSectionNames(m_filePath.toUtf8()))
        names.append(QString::fromUtf8(name));
    return names;
}

bool ProfileStore::contains(const QString& siteName) const
{
    for (const QString& stored : siteNames())
        if (sameSite(stored, siteName))
            return true;
    return false;
}

QString ProfileStore::storedSectionName(const QString& siteName) const
{
    // The file matches names without regard to ASCII case only; the site list matches all
    // letters so. Writing to the stored spelling keeps the two in step for "Ä" and "ä" too.
    for (const QString& stored : siteNames())
        if (sameSite(stored, siteName))
            return stored;
    return siteName;
}

SiteProfile ProfileStore::read(const QString& siteName, const QString& portDefault) const
{
    const QByteArray file = m_filePath.toUtf8();
    const QByteArray section = storedSectionName(siteName).toUtf8();
    auto value = [&](const char* key, const QByteArray& fallback = {}) {
        return DecodeProfileValue(readValue(file, section, key, fallback));
    };
    SiteProfile profile;
    profile.siteName = siteName;
    profile.host = QString::fromUtf8(value("Host"));
    profile.port = QString::fromUtf8(value("Port", EncodeProfileValue(portDefault.toUtf8())));
    profile.userID = QString::fromUtf8(value("UserID"));
    const QByteArray storedPassword = value("Password");
    profile.password = QString::fromUtf8(ScramblePassword(storedPassword));
    // A copy of the program that knows nothing of the keyring keeps the marker but writes the
    // password it was given into "Password": that password is then the newer one.
    profile.passwordInKeyring =
        storedPassword.isEmpty() && value(kPasswordStoreKey) == kPasswordStoreKeyring;
    profile.directory = QString::fromUtf8(value("Directory"));
    profile.encryption = QString::fromUtf8(value("Encryption"));
    profile.plainFtpAllowed = value(kAllowPlainFtpKey) == "1";
    profile.protocol = QString::fromUtf8(value(kProtocolKey));
    return profile;
}

bool ProfileStore::write(const SiteProfile& profile) const
{
    if (!IsValidSiteName(profile.siteName))
        return false;
    const QByteArray file = m_filePath.toUtf8();
    const QByteArray section = storedSectionName(profile.siteName).toUtf8();
    auto put = [&](const char* key, const QByteArray& value) {
        return putValue(file, section, key, value);
    };
    if (!(put("Host", profile.host.toUtf8()) && put("Port", profile.port.toUtf8()) &&
          put("UserID", profile.userID.toUtf8()) && writePasswordKeys(file, section, profile) &&
          put("Directory", profile.directory.toUtf8()) &&
          (profile.encryption.isEmpty() || put("Encryption", profile.encryption.toUtf8()))))
        return false;
    // An FTP site keeps no key, so an older copy of the program reads it as before; a site
    // changed back to FTP loses the key it had.
    if (!(profile.protocol.isEmpty() || profile.protocol == QLatin1String(kProtocolFtp)
              ? WritePrivateProfileStringA(section.constData(), kProtocolKey, nullptr,
                                           file.constData()) != FALSE
              : put(kProtocolKey, profile.protocol.toUtf8())))
        return false;
    // "Always allow plain FTP" was said of "TLS if available": another choice ends it, so
    // choosing that again asks again.
    if (profile.encryption.isEmpty() || profile.encryption == QLatin1String(kEncryptionIfAvailable))
        return true;
    return WritePrivateProfileStringA(section.constData(), kAllowPlainFtpKey, nullptr,
                                      file.constData()) != FALSE;
}

bool ProfileStore::writePassword(const SiteProfile& profile) const
{
    if (!IsValidSiteName(profile.siteName))
        return false;
    return writePasswordKeys(m_filePath.toUtf8(), storedSectionName(profile.siteName).toUtf8(),
                             profile);
}

bool ProfileStore::writePasswordKeys(const QByteArray& file, const QByteArray& section,
                                     const SiteProfile& profile)
{
    // "Password" before the marker: a write that stops between the two leaves either a
    // profile without a password or a password in the file, which then wins over the
    // marker; never a clear password beside a marker that says it is elsewhere.
    if (profile.passwordInKeyring)
        return putValue(file, section, "Password", {}) &&
               putValue(file, section, kPasswordStoreKey, QByteArray(kPasswordStoreKeyring));
    return putValue(file, section, "Password", ScramblePassword(profile.password.toUtf8())) &&
           WritePrivateProfileStringA(section.constData(), kPasswordStoreKey, nullptr,
                                      file.constData()) != FALSE;
}

bool ProfileStore::putValue(const QByteArray& file, const QByteArray& section, const char* key,
                            const QByteArray& value)
{
    return WritePrivateProfileStringA(section.constData(), key,
                                      EncodeProfileValue(value).constData(),
                                      file.constData()) != FALSE;
}

bool ProfileStore::erase(const QString& siteName) const
{
    const QByteArray section = storedSectionName(siteName).toUtf8();
    return WritePrivateProfileStringA(section.constData(), nullptr, nullptr,
                                      m_filePath.toUtf8().constData()) != FALSE;
}

bool ProfileStore::allowPlainFtp(const QString& siteName) const
{
    if (!IsValidSiteName(siteName))
        return false;
    return putValue(m_filePath.toUtf8(), storedSectionName(siteName).toUtf8(), kAllowPlainFtpKey,
                    QByteArrayLiteral("1"));
}

QString ProfileStore::keyringEntry(const QString& siteName) const
{
    return storedSectionName(siteName) + QStringLiteral(" (") + m_filePath + QLatin1Char(')');
}

QString ProfileStore::writeErrorText() const
{
    return QStringLiteral("Unable to write to %1").arg(m_filePath);
}

void ListSiteNames(SiteProfileForm& form, const ProfileStore& store)
{
    form.clearSiteNameItems();
    for (const QString& name : store.siteNames())
        form.addSiteNameItem(name);
}

void LoadSiteProfile(SiteProfileForm& form, const ProfileStore& store, const QString& name,
                     PasswordKeyring* keyring)
{
    SiteProfile profile = store.read(name, QStringLiteral("21"));
    FetchKeyringPassword(profile, store, keyring);
    if (profile.encryption.isEmpty())
        profile.encryption =
            QString::fromLatin1(store.contains(name) ? kEncryptionNone : kEncryptionIfAvailable);
    form.setProfileFields(profile);
    form.setSiteChanged(false);
}

ProfileSaveResult SaveSiteProfile(SiteProfileForm& form, const ProfileStore& store,
                                  Prompter& prompter, PasswordKeyring* keyring, bool useKeyring)
{
    SiteProfile fields = form.profileFields();
    if (const QString problem = SiteNameProblem(fields.siteName); !problem.isEmpty()) {
        prompter.messageBeep(MB_ICONEXCLAMATION);
        prompter.message(kWarningCaption, problem, MessageIcon::Warning);
        return ProfileSaveResult::Refused;
    }
    bool listed = false;
    for (const QString& item : form.siteNameItems())
        listed = listed || sameSite(item, fields.siteName);
    if (!listed) {
        form.addSiteNameItem(fields.siteName);
    } else {
        prompter.messageBeep(MB_ICONQUESTION);
        if (!prompter.askYesNo(kConfirmCaption, QString::fromLatin1(kOverwriteSiteText)))
            return ProfileSaveResult::Declined;
    }
    if (isBlankText(fields.port)) {
        fields.port = QStringLiteral("0");
        form.setPortField(fields.port);
    }
    const QString keyringWarning = PlacePassword(fields, store, keyring, useKeyring);
    if (!store.write(fields)) {
        prompter.message(kErrorCaption, store.writeErrorText(), MessageIcon::Error,
                         StoreWriteFailureDetail(GetLastError()));
        return ProfileSaveResult::Failed;
    }
    if (!keyringWarning.isEmpty()) {
        prompter.messageBeep(MB_ICONEXCLAMATION);
        prompter.message(kWarningCaption, keyringWarning, MessageIcon::Warning);
    }
    form.setSiteChanged(false);
    return ProfileSaveResult::Written;
}

bool DeleteSiteProfile(SiteProfileForm& form, const ProfileStore& store, Prompter& prompter,
                       const QString& name, PasswordKeyring* keyring)
{
    prompter.messageBeep(MB_ICONQUESTION);
    if (!prompter.askYesNo(kConfirmCaption, QString::fromLatin1(kDeleteSiteText)))
        return false;
    // Named before the section goes: the entry's name is the section's stored spelling.
    const bool inKeyring = store.read(name).passwordInKeyring;
    const QString entry = store.keyringEntry(name);
    if (!store.erase(name)) {
        prompter.message(kErrorCaption, store.writeErrorText(), MessageIcon::Error,
                         StoreWriteFailureDetail(GetLastError()));
        return false;
    }
    if (inKeyring && keyring)
        keyring->remove(entry);
    const QString current = form.siteNameText();
    const QStringList items = form.siteNameItems();
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (sameSite(items[i], current)) {
            form.removeSiteNameItem(static_cast<int>(i));
            break;
        }
    }
    form.newSite();
    return true;
}

SiteProfile ReadSiteForConnect(const QString& siteName)
{
    return ProfileStore(ProfileFilePath()).read(siteName);
}
