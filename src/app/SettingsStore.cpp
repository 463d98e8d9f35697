#include "app/SettingsStore.h"

#include "app/RegistryKey.h"
#include "common/Prompter.h"
#include "common/SortState.h"
#include "datafolder.h"

#include <QDir>
#include <QSet>

#include <algorithm>

#include <type_traits>

SettingsValues Settings;

namespace {

const QString kCaption = QStringLiteral("ZUL-FTP");

// Messages of the reading paths already shown this run. The main window reloads the settings
// each time it is activated, and closing a message box activates it: without this, one bad
// value would bring its box back for ever.
QSet<QString> shownReadMessages;

void showReadMessage(Prompter& prompter, const QString& text)
{
    if (shownReadMessages.contains(text))
        return;
    shownReadMessages.insert(text);
    prompter.message(kCaption, text, MessageIcon::Error);
}

QString registryFileName()
{
    return QString::fromStdString(RegistryFilePath());
}

// A key that exists but cannot be opened is reported: above all a damaged file, which the
// store never overwrites, so the user has to know why the settings seem forgotten.
void reportOpenFailure(Prompter& prompter, LONG rc)
{
    if (rc == ERROR_BADDB) {
        showReadMessage(prompter, QStringLiteral("The settings file %1 is damaged and cannot be "
                                                 "read. It is left as it is; the program uses "
                                                 "its default settings until it is repaired or "
                                                 "removed.")
                                      .arg(registryFileName()));
    } else {
        showReadMessage(prompter, QStringLiteral("Unable to read the settings file %1 (error %2).")
                                      .arg(registryFileName())
                                      .arg(rc));
    }
}

// Reads values one after another, reporting each failure and leaving its target alone.
class ValueReader
{
public:
    ValueReader(const RegistryKey& key, Prompter& prompter) : m_key(key), m_prompter(prompter) {}

    void integer(const char* name, int& target) { check(name, m_key.readInteger(name, target)); }
    void flag(const char* name, bool& target) { check(name, m_key.readFlag(name, target)); }
    void text(const char* name, QString& target) { check(name, m_key.readText(name, target)); }
    // The value when it is stored and readable.
    template <typename T> std::optional<T> optional(const char* name)
    {
        T value{};
        RegistryKey::Read result;
        if constexpr (std::is_same_v<T, QString>)
            result = m_key.readText(name, value);
        else if constexpr (std::is_same_v<T, bool>)
            result = m_key.readFlag(name, value);
        else
            result = m_key.readInteger(name, value);
        return check(name, result) ? std::optional<T>(value) : std::nullopt;
    }
    bool allRead() const { return m_allRead; }

private:
    bool check(const char* name, RegistryKey::Read result)
    {
        const QString valueName = QString::fromUtf8(name);
        if (result == RegistryKey::Read::WrongType) {
            showReadMessage(m_prompter,
                            QStringLiteral("Invalid data type for '%1'").arg(valueName));
        } else if (result == RegistryKey::Read::Failed) {
            showReadMessage(m_prompter,
                            QStringLiteral("Failed to get data for '%1'").arg(valueName));
        }
        m_allRead = m_allRead && result != RegistryKey::Read::WrongType &&
                    result != RegistryKey::Read::Failed;
        return result == RegistryKey::Read::Done;
    }

    const RegistryKey& m_key;
    Prompter& m_prompter;
    bool m_allRead = true;
};

// Writes values in order until one fails; that one is reported and the rest are skipped.
class ValueWriter
{
public:
    ValueWriter(const RegistryKey& key, Prompter& prompter) : m_key(key), m_prompter(prompter) {}

    void integer(const char* name, int value)
    {
        check(name, [&] { return m_key.writeInteger(name, value); });
    }
    void flag(const char* name, bool value)
    {
        check(name, [&] { return m_key.writeFlag(name, value); });
    }
    void text(const char* name, const QString& value)
    {
        check(name, [&] { return m_key.writeText(name, value); });
    }
    bool ok() const { return m_ok; }

private:
    template <typename Write> void check(const char* name, Write write)
    {
        if (!m_ok)
            return;
        const LONG rc = write();
        if (rc == ERROR_SUCCESS)
            return;
        m_ok = false;
        m_prompter.message(
            kCaption, QStringLiteral("Failed to set data for '%1'").arg(QString::fromUtf8(name)),
            MessageIcon::Error, StoreWriteFailureDetail(static_cast<DWORD>(rc)));
    }

    const RegistryKey& m_key;
    Prompter& m_prompter;
    bool m_ok = true;
};

// Opens the key for writing, creating it when missing; reports why it could not.
bool createSettingsKey(RegistryKey& key, Prompter& prompter)
{
    const LONG rc = key.create(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
    if (rc == ERROR_SUCCESS)
        return true;
    const QString text =
        rc == ERROR_BADDB
            ? QStringLiteral("The settings file %1 is damaged, so the settings were not saved. "
                             "It is left as it is for you to repair or remove.")
                  .arg(registryFileName())
            : QStringLiteral("Unable to save the settings to %1 (error %2).")
                  .arg(registryFileName())
                  .arg(rc);
    prompter.message(kCaption, text, MessageIcon::Error,
                     StoreWriteFailureDetail(static_cast<DWORD>(rc)));
    return false;
}

// Opens the key for reading; a missing key is no error.
bool openSettingsKey(RegistryKey& key, Prompter& prompter, bool& failed)
{
    const LONG rc = key.open(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
    failed = rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND;
    if (failed)
        reportOpenFailure(prompter, rc);
    return rc == ERROR_SUCCESS;
}

// Whether a text holds nothing but blanks and control characters.
bool isBlank(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 0x20)
            return false;
    return true;
}

void setDefaults(SettingsHost& host)
{
    Settings.LastSite.clear();
    Settings.DefaultLocalPath = DefaultLocalFolder();
    Settings.LastLocalFolder.clear();
    Settings.LastRemoteSort = 1;
    Settings.LocalFoldersWidth = 160;
    Settings.LocalFilesWidth = 380;
    // Wide enough for a whole date and a size in the millions with its separators.
    // 0: as wide as the column's texts need (a whole date, a size in the millions).
    Settings.LastRemoteColWidths = {0, 0, 0};
    Settings.LastLocalColWidths = {0, 0, 0};
    Settings.QuickConnectBar = true;
    Settings.QuickConnectRecent.clear();
    host.setLargeButtonsChecked(true);
}

// The names of one recent quick connect's three values.
QByteArray recentName(const char* field, int index)
{
    return QByteArray("QuickConnect") + field + QByteArray::number(index);
}

void readQuickConnect(ValueReader& read)
{
    read.flag("QuickConnectBar", Settings.QuickConnectBar);
    for (int i = 0; i < kQuickConnectRecentMax; ++i) {
        QuickConnectEntry entry;
        const auto host = read.optional<QString>(recentName("Host", i).constData());
        const auto user = read.optional<QString>(recentName("User", i).constData());
        const auto port = read.optional<int>(recentName("Port", i).constData());
        if (!host || host->trimmed().isEmpty() || !port || *port < 1 || *port > 65535)
            continue;
        Settings.QuickConnectRecent.append({*host, user.value_or(QString()), *port});
    }
}

void readAll(ValueReader& read, SettingsHost& host)
{
    read.text("DefaultLocalPath", Settings.DefaultLocalPath);
    read.text("LastSite", Settings.LastSite);
    read.text("LastLocalFolder", Settings.LastLocalFolder);
    read.integer("LastRemoteSort", Settings.LastRemoteSort);
    read.integer("LastLocalSort", Settings.LastLocalSort);
    read.integer("LocalFoldersWidth", Settings.LocalFoldersWidth);
    read.integer("LocalFilesWidth", Settings.LocalFilesWidth);
    read.integer("LastRemoteColWidths0", Settings.LastRemoteColWidths[0]);
    read.integer("LastRemoteColWidths1", Settings.LastRemoteColWidths[1]);
    read.integer("LastRemoteColWidths2", Settings.LastRemoteColWidths[2]);
    read.integer("LastLocalColWidths0", Settings.LastLocalColWidths[0]);
    read.integer("LastLocalColWidths1", Settings.LastLocalColWidths[1]);
    read.integer("LastLocalColWidths2", Settings.LastLocalColWidths[2]);
    read.flag("LowerCaseUpload", Settings.LowerCaseUpload);
    read.flag("AutoConnect", Settings.AutoConnect);
    read.flag("BackgroundTransfers", Settings.BackgroundTransfers);
    read.integer("SimultaneousTransfers", Settings.SimultaneousTransfers);
    Settings.SimultaneousTransfers = std::clamp(Settings.SimultaneousTransfers, 1, 10);
    read.integer("QueuePaneHeight", Settings.QueuePaneHeight);
    readQuickConnect(read);
    bool large = host.largeButtonsChecked();
    read.flag("LargeButtons", large);
    host.setLargeButtonsChecked(large);
    bool small = host.smallButtonsChecked();
    read.flag("SmallButtons", small);
    host.setSmallButtonsChecked(small);
}

} // namespace

QString StoreWriteFailureDetail(DWORD code)
{
    if (code != ERROR_LOCK_VIOLATION)
        return {};
    return QStringLiteral("Another program kept the file locked for %1 seconds, so nothing was "
                          "written. It may be another copy of ZUL-FTP saving; try again when it "
                          "has finished.")
        .arg(folderLockWaitMs() / 1000.0);
}

QString ExecutableFolder()
{
    return QString::fromStdString(GetExecutableFolder());
}

QString DefaultLocalFolder()
{
    return QDir::homePath() + QLatin1Char('/');
}

void ResetSettingsMessages()
{
    shownReadMessages.clear();
}

bool LoadSettings(SettingsHost& host, Prompter& prompter)
{
    setDefaults(host);
    bool ok = true;
    RegistryKey key;
    bool openFailed = false;
    if (openSettingsKey(key, prompter, openFailed)) {
        ValueReader read(key, prompter);
        readAll(read, host);
        ok = read.allRead();
        key.close();
    }
    if (isBlank(Settings.DefaultLocalPath))
        Settings.DefaultLocalPath = DefaultLocalFolder();
    host.setMainTitle(QStringLiteral("ZUL-FTP - ") + Settings.LastSite);
    return ok && !openFailed;
}

bool SaveSettings(SettingsHost& host, Prompter& prompter)
{
    RegistryKey key;
    if (!createSettingsKey(key, prompter))
        return false;
    ValueWriter write(key, prompter);
    const WindowPlacement placement = host.windowPlacement();
    if (placement.state == WindowShowState::Normal) {
        write.integer("Last X-Pos", placement.left);
        write.integer("Last Y-Pos", placement.top);
        write.integer("Last Width", placement.width);
        write.integer("Last Height", placement.height);
    }
    if (placement.state != WindowShowState::Minimized)
        write.integer("Last Window State", static_cast<int>(placement.state));
    const ColumnWidths remote = host.remoteColumnWidths();
    const ColumnWidths local = host.localColumnWidths();
    write.integer("LastRemoteSort", RemoteSort);
    write.integer("LastRemoteColWidths0", remote[0]);
    write.integer("LastRemoteColWidths1", remote[1]);
    write.integer("LastRemoteColWidths2", remote[2]);
    write.integer("LastLocalSort", LocalSort);
    write.integer("LastLocalColWidths0", local[0]);
    write.integer("LastLocalColWidths1", local[1]);
    write.integer("LastLocalColWidths2", local[2]);
    write.integer("LocalFoldersWidth", host.folderPanelWidth());
    write.integer("LocalFilesWidth", host.localPaneWidth());
    write.flag("LargeButtons", host.largeButtonsChecked());
    write.flag("SmallButtons", host.smallButtonsChecked());
    if (const QString folder = host.localFolder(); !folder.isEmpty())
        write.text("LastLocalFolder", folder);
    return write.ok();
}

StartupPlacement ReadStartupPlacement(Prompter& prompter)
{
    StartupPlacement placement;
    RegistryKey key;
    bool openFailed = false;
    if (!openSettingsKey(key, prompter, openFailed))
        return placement;
    ValueReader read(key, prompter);
    const auto left = read.optional<int>("Last X-Pos");
    const auto top = read.optional<int>("Last Y-Pos");
    const auto width = read.optional<int>("Last Width");
    const auto height = read.optional<int>("Last Height");
    const auto state = read.optional<int>("Last Window State");
    if (left && top)
        placement.position = QPoint(*left, *top);
    if (width && height)
        placement.size = QSize(*width, *height);
    if (state) {
        placement.state = *state == 2   ? WindowShowState::Maximized
                          : *state == 1 ? WindowShowState::Minimized
                                        : WindowShowState::Normal;
    }
    return placement;
}

ConfigureOptions ReadConfigureOptions(Prompter& prompter)
{
    ConfigureOptions options;
    RegistryKey key;
    bool openFailed = false;
    if (!openSettingsKey(key, prompter, openFailed))
        return options;
    ValueReader read(key, prompter);
    options.lastSite = read.optional<QString>("LastSite");
    options.defaultLocalPath = read.optional<QString>("DefaultLocalPath");
    options.lowerCaseUpload = read.optional<bool>("LowerCaseUpload");
    options.autoConnect = read.optional<bool>("AutoConnect");
    options.passwordsInKeyring = read.optional<bool>("PasswordsInKeyring");
    return options;
}

bool WriteConfigureOptions(const QString& lastSite, const QString& defaultLocalPath,
                           bool lowerCaseUpload, bool autoConnect, Prompter& prompter,
                           std::optional<bool> passwordsInKeyring)
{
    RegistryKey key;
    if (!createSettingsKey(key, prompter))
        return false;
    ValueWriter write(key, prompter);
    write.text("LastSite", lastSite);
    write.text("DefaultLocalPath", defaultLocalPath);
    write.flag("LowerCaseUpload", lowerCaseUpload);
    write.flag("AutoConnect", autoConnect);
    if (passwordsInKeyring)
        write.flag("PasswordsInKeyring", *passwordsInKeyring);
    return write.ok();
}

bool WriteLastSite(const QString& lastSite, Prompter& prompter)
{
    RegistryKey key;
    if (!createSettingsKey(key, prompter))
        return false;
    ValueWriter write(key, prompter);
    write.text("LastSite", lastSite);
    return write.ok();
}

bool WriteTransferOptions(bool background, int simultaneous, Prompter& prompter)
{
    RegistryKey key;
    if (!createSettingsKey(key, prompter))
        return false;
    ValueWriter write(key, prompter);
    write.flag("BackgroundTransfers", background);
    write.integer("SimultaneousTransfers", std::clamp(simultaneous, 1, 10));
    return write.ok();
}

bool WriteQueuePaneHeight(int height, Prompter& prompter)
{
    RegistryKey key;
    if (!createSettingsKey(key, prompter))
        return false;
    ValueWriter write(key, prompter);
    write.integer("QueuePaneHeight", std::max(height, 0));
    return write.ok();
}

bool WriteQuickConnectBarShown(bool shown, Prompter& prompter)
{
    RegistryKey key;
    if (!createSettingsKey(key, prompter))
        return false;
    ValueWriter write(key, prompter);
    write.flag("QuickConnectBar", shown);
    return write.ok();
}

bool RememberQuickConnect(const QuickConnectEntry& entry, Prompter& prompter)
{
    QList<QuickConnectEntry> recent{entry};
    for (const QuickConnectEntry& older : std::as_const(Settings.QuickConnectRecent)) {
        const bool same = older.host.compare(entry.host, Qt::CaseInsensitive) == 0 &&
                          older.user == entry.user && older.port == entry.port;
        if (!same && recent.size() < kQuickConnectRecentMax)
            recent.append(older);
    }
    Settings.QuickConnectRecent = recent;
    RegistryKey key;
    if (!createSettingsKey(key, prompter))
        return false;
    ValueWriter write(key, prompter);
    for (int i = 0; i < static_cast<int>(recent.size()); ++i) {
        const QuickConnectEntry& kept = recent[i];
        write.text(recentName("Host", i).constData(), kept.host);
        write.text(recentName("User", i).constData(), kept.user);
        write.integer(recentName("Port", i).constData(), kept.port);
    }
    return write.ok();
}
