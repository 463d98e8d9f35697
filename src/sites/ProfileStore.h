#pragma once
// The site profiles: one section per site in the private INI file "zulftp.ini" in the data
// folder, with the keys "Host", "Port", "UserID", "Password" (scrambled), "Directory",
// "Encryption", "AllowPlainFtp" and, for a password kept in the desktop keyring,
// "PasswordStore".
#include "sites/ScramblePassword.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class PasswordKeyring;
class Prompter;

// One stored site. The texts are exactly what the user typed; nothing is trimmed.
struct SiteProfile
{
    QString siteName;
    QString host;
    QString port;
    QString userID;
    QString password; // plain
    QString directory;
    // "none", "explicit-if-available" or "explicit-required"; empty when the profile has no
    // such key, which means plain FTP as before the key existed.
    QString encryption = {};
    // The password lives in the desktop keyring: "Password" is stored empty (so an older copy
    // of the program sees a profile without a password) and "PasswordStore" says where it is.
    bool passwordInKeyring = false;
    // In the keyring, which could not be read when the profile was loaded: `password` is
    // empty for want of the real one, and saving must leave the keyring's copy alone.
    bool passwordUnread = false;
    // "AllowPlainFtp": the user said to connect in plain FTP without asking when the server of
    // a site set to "explicit-if-available" offers no TLS. Without the key the user is asked.
    bool plainFtpAllowed = false;
    // "Protocol": kProtocolSftp for an SSH server, kProtocolFtps for FTP over implicit TLS;
    // empty (no such key) is FTP, with or without TLS as "Encryption" says.
    QString protocol = {};
};

inline constexpr char kEncryptionNone[] = "none";
inline constexpr char kEncryptionIfAvailable[] = "explicit-if-available";
inline constexpr char kEncryptionRequired[] = "explicit-required";
inline constexpr char kAllowPlainFtpKey[] = "AllowPlainFtp";
inline constexpr char kPasswordStoreKey[] = "PasswordStore";
inline constexpr char kPasswordStoreKeyring[] = "keyring";
inline constexpr char kProtocolKey[] = "Protocol";
inline constexpr char kProtocolFtp[] = "ftp";
inline constexpr char kProtocolSftp[] = "sftp";
inline constexpr char kProtocolFtps[] = "ftps"; // TLS from the first byte, port 990

// The data folder followed by "zulftp.ini".
QString ProfileFilePath();

// Why `name` cannot be stored as a site, as the warning the user sees, or the empty text when
// it can. A section name cannot be empty (nor blanks only) and cannot hold a closing square
// bracket, a line break or a NUL, which would end or break the section's header line.
QString SiteNameProblem(const QString& name);
inline bool IsValidSiteName(const QString& name)
{
    return SiteNameProblem(name).isEmpty();
}

// The profile file, named once by its full path. Every call opens and closes the file.
class ProfileStore
{
public:
    explicit ProfileStore(QString filePath);

    const QString& filePath() const { return m_filePath; }

    // The section names in file order (empty when there is no file).
    QStringList siteNames() const;
    // Whether a section of that name (in any letter case) is stored.
    bool contains(const QString& siteName) const;
    // The section's values; a missing key gives the empty text, or "21" for a missing "Port"
    // when `portDefault` says so. The password comes back plain.
    SiteProfile read(const QString& siteName, const QString& portDefault = {}) const;
    // Writes the five keys in order, and "Encryption" when it is not empty, into the section
    // named `profile.siteName` (a section whose name differs only in letter case is the same
    // site and keeps its header). Stops at the first key that cannot be written; the keys
    // written before it stay written. An Encryption other than "explicit-if-available" removes
    // "AllowPlainFtp".
    bool write(const SiteProfile& profile) const;
    // Writes only where the password is: a password in the keyring leaves "Password" empty and
    // sets "PasswordStore"; any other goes into "Password" scrambled and removes the marker.
    bool writePassword(const SiteProfile& profile) const;
    bool erase(const QString& siteName) const;
    // Sets "AllowPlainFtp" in the site's section and nothing else. The Configure dialog's
    // save keeps the key, as it keeps every key it does not know.
    bool allowPlainFtp(const QString& siteName) const;

    // The name of the site's password in the desktop keyring: the stored spelling of the site
    // name and this file's path, so two profile files never share an entry.
    QString keyringEntry(const QString& siteName) const;

    // "Unable to write to " + the file's path: what a failed write or erase shows.
    QString writeErrorText() const;

private:
    // The name of the stored section that equals `siteName` without regard to case, or
    // `siteName` itself when there is none.
    QString storedSectionName(const QString& siteName) const;
    static bool writePasswordKeys(const QByteArray& file, const QByteArray& section,
                                  const SiteProfile& profile);
    static bool putValue(const QByteArray& file, const QByteArray& section, const char* key,
                         const QByteArray& value);

    QString m_filePath;
};

// What the profile operations need of the Configure dialog: the six fields, the site list
// (kept sorted without regard to case by the dialog) and its changed flag.
class SiteProfileForm
{
public:
    virtual ~SiteProfileForm() = default;

    // txtSiteName .. txtDirectory. Setting them raises the fields' change handlers.
    virtual SiteProfile profileFields() const = 0;
    virtual void setProfileFields(const SiteProfile& fields) = 0;
    virtual void setPortField(const QString& port) = 0;

    // The items of cboSiteName and its text (the selected item, empty when none).
    virtual QStringList siteNameItems() const = 0;
    virtual void clearSiteNameItems() = 0;
    virtual void addSiteNameItem(const QString& name) = 0;
    virtual void removeSiteNameItem(int index) = 0;
    virtual QString siteNameText() const = 0;

    virtual bool siteChanged() const = 0;
    virtual void setSiteChanged(bool changed) = 0;

    // The dialog's New action (btnNewClick): no site selected, empty fields, Port "21".
    virtual void newSite() = 0;
};

// How SaveSiteProfile ended.
enum class ProfileSaveResult {
    Written,  // every key written
    Declined, // No to the overwrite question: nothing written, the changed flag kept
    Refused,  // the name cannot be a section name: warned, nothing written
    Failed,   // a write failed: "Unable to write to ..." shown, earlier keys stay written
};

// Fills the site list with the file's section names, in file order.
void ListSiteNames(SiteProfileForm& form, const ProfileStore& store);
// Fills the fields from the section `name` (Port "21" when missing) and clears the flag. A
// stored profile without "Encryption" shows "none", as it connects; a new one (no section yet)
// starts with "explicit-if-available". A password kept in `keyring` is read from it.
void LoadSiteProfile(SiteProfileForm& form, const ProfileStore& store, const QString& name,
                     PasswordKeyring* keyring = nullptr);
// Stores the fields as the profile named by the Site Name field, untrimmed; asks before
// overwriting a listed name; adds a new name to the list; a blank Port becomes "0". With
// `useKeyring` the password goes into `keyring` and the file keeps only a marker.
ProfileSaveResult SaveSiteProfile(SiteProfileForm& form, const ProfileStore& store,
                                  Prompter& prompter, PasswordKeyring* keyring = nullptr,
                                  bool useKeyring = false);
// Asks, then erases the section `name` (and its password in `keyring`), removes the list's
// current text from the list and runs the New action. Returns whether the section was erased.
bool DeleteSiteProfile(SiteProfileForm& form, const ProfileStore& store, Prompter& prompter,
                       const QString& name, PasswordKeyring* keyring = nullptr);

// The connect step's read of the current site: every key defaults to the empty text (Port
// included) and the password comes back plain.
SiteProfile ReadSiteForConnect(const QString& siteName);

// Message texts.
inline constexpr char kOverwriteSiteText[] = "This site name already exists.  Overwrite it?";
inline constexpr char kDeleteSiteText[] = "Are you sure you want to delete this site information?";
