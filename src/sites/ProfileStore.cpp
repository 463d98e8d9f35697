#include "sites/ProfileStore.h"

#include "app/Prompter.h"
#include "app/SettingsStore.h"
#include "datafolder.h"
#include "lasterror.h"
#include "profile.h"

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
    profile.password = QString::fromUtf8(ScramblePassword(value("Password")));
    profile.directory = QString::fromUtf8(value("Directory"));
    profile.encryption = QString::fromUtf8(value("Encryption"));
    return profile;
}

bool ProfileStore::write(const SiteProfile& profile) const
{
    if (!IsValidSiteName(profile.siteName))
        return false;
    const QByteArray file = m_filePath.toUtf8();
    const QByteArray section = storedSectionName(profile.siteName).toUtf8();
    auto put = [&](const char* key, const QByteArray& value) {
        return WritePrivateProfileStringA(section.constData(), key,
                                          EncodeProfileValue(value).constData(),
                                          file.constData()) != FALSE;
    };
    return put("Host", profile.host.toUtf8()) && put("Port", profile.port.toUtf8()) &&
           put("UserID", profile.userID.toUtf8()) &&
           put("Password", ScramblePassword(profile.password.toUtf8())) &&
           put("Directory", profile.directory.toUtf8()) &&
           (profile.encryption.isEmpty() || put("Encryption", profile.encryption.toUtf8()));
}

bool ProfileStore::erase(const QString& siteName) const
{
    const QByteArray section = storedSectionName(siteName).toUtf8();
    return WritePrivateProfileStringA(section.constData(), nullptr, nullptr,
                                      m_filePath.toUtf8().constData()) != FALSE;
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

void LoadSiteProfile(SiteProfileForm& form, const ProfileStore& store, const QString& name)
{
    SiteProfile profile = store.read(name, QStringLiteral("21"));
    if (profile.encryption.isEmpty())
        profile.encryption =
            QString::fromLatin1(store.contains(name) ? kEncryptionNone : kEncryptionIfAvailable);
    form.setProfileFields(profile);
    form.setSiteChanged(false);
}

ProfileSaveResult SaveSiteProfile(SiteProfileForm& form, const ProfileStore& store,
                                  Prompter& prompter)
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
    if (!store.write(fields)) {
        prompter.message(kErrorCaption, store.writeErrorText(), MessageIcon::Error,
                         StoreWriteFailureDetail(GetLastError()));
        return ProfileSaveResult::Failed;
    }
    form.setSiteChanged(false);
    return ProfileSaveResult::Written;
}

bool DeleteSiteProfile(SiteProfileForm& form, const ProfileStore& store, Prompter& prompter,
                       const QString& name)
{
    prompter.messageBeep(MB_ICONQUESTION);
    if (!prompter.askYesNo(kConfirmCaption, QString::fromLatin1(kDeleteSiteText)))
        return false;
    if (!store.erase(name)) {
        prompter.message(kErrorCaption, store.writeErrorText(), MessageIcon::Error,
                         StoreWriteFailureDetail(GetLastError()));
        return false;
    }
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
