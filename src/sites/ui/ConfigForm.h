#pragma once
#include "sites/ConfigLogic.h"
#include "sites/ProfileStore.h"

#include <QDialog>
#include <QString>

class PasswordKeyring;
class Prompter;
class QCheckBox;
class QSpinBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;

// The Configure dialog: edits the stored site profiles one at a time, picks the current site
// and sets the options. Created once at start-up with the main window as its parent (only
// used for centring) and shown modally any number of times.
class TfrmConfig : public QDialog, private SiteProfileForm
{
    Q_OBJECT

public:
    explicit TfrmConfig(Prompter& prompter, QWidget* mainWindow = nullptr);
    ~TfrmConfig() override;

    // Shows the dialog modally; QDialog::Accepted after OK, QDialog::Rejected otherwise. The
    // caller reloads the settings after either.
    int ShowModal() { return exec(); }

    // The desktop keyring the passwords may go to; none (the default) leaves the option off
    // and unavailable.
    void setKeyring(PasswordKeyring* keyring);

    // Full path of the profile file, fixed when the dialog is created.
    const QString& profileFilePath() const { return m_store.filePath(); }

    // The dialog's changed flag: set by any change of the six profile fields' text, cleared
    // when a profile is loaded or saved and at each showing.
    bool SiteChanged = false;

    // The controls, named as in the design.
    QTabWidget* Tabs = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QComboBox* cboSiteName = nullptr;
    QGroupBox* grpFTPConfiguration = nullptr;
    QLineEdit* txtSiteName = nullptr;
    QLineEdit* txtHost = nullptr;
    QLineEdit* txtPort = nullptr;
    QLineEdit* txtUserID = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLineEdit* txtDirectory = nullptr;
    // "Encryption": the profile's value as item data, in words as item text.
    QComboBox* cboEncryption = nullptr;
    // "Protocol": FTP (with the encryption above) or SFTP; the profile's value as item data.
    QComboBox* cboProtocol = nullptr;
    QPushButton* btnNew = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnDelete = nullptr;
    QLineEdit* txtDefaultPath = nullptr;
    QPushButton* btnBrowseDefault = nullptr;
    QCheckBox* chkAutoConnect = nullptr;
    QCheckBox* chkLowerCase = nullptr;
    QCheckBox* chkPasswordsInKeyring = nullptr;
    // Transfers in the background, and how many at once (1 to 10).
    QCheckBox* chkBackgroundTransfers = nullptr;
    QSpinBox* txtSimultaneousTransfers = nullptr;
    // Says, before any save, when the keyring cannot take passwords now.
    QLabel* lblKeyringNote = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    // Handlers, named after the control and event they serve.
    void FormCreate();
    void FormShow();
    void cboSiteNameClick(int index);
    void btnNewClick();
    void btnSaveClick();
    void btnDeleteClick();
    // Returns whether the typed character is kept; a dropped one beeps.
    bool txtPortKeyPress(char16_t key);
    // Whether `inserted` (typed or pasted) may go into the Port field; beeps when not.
    bool txtPortInsertAccepted(const QString& inserted);
    void txtFieldChange();
    // Another protocol: the port follows it while it is the other one's default, and the TLS
    // choice applies to FTP only.
    void cboProtocolChange();
    void btnBrowseDefaultClick();
    void btnOKClick();
    void btnCancelClick();
    // Runs at every closing; returns whether the dialog may close.
    bool FormCloseQuery();
    void TabsChange(int index);

    // The profile operations the dialog's buttons run, on the dialog's own fields.
    void ListSiteNames();
    void LoadSiteProfile(const QString& name);
    ProfileSaveResult SaveSiteProfile();
    void DeleteSiteProfile(const QString& name);

    // The site list's text: the selected item, or the empty text when none is selected.
    QString siteListText() const;

public Q_SLOTS:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildFtpPage();
    QWidget* buildOptionsPage();
    void buildButtons();
    void applyTabOrder();
    void connectHandlers();
    QLineEdit* addField(const char* objectName, const QString& label, int limit);
    int findSiteName(const QString& name) const;
    // Reads the four options into their controls; returns the remembered site.
    QString readOptions();
    bool writeOptions();
    // After OK stored the keyring option: every password goes where it says. Also run when
    // the option did not change, so a move the keyring refused before is finished now.
    void movePasswords(bool toKeyring);
    void txtPasswordChange();
    // Shows lblKeyringNote while the keyring cannot take a password without a window of its
    // own (not `open`).
    void showKeyringNote(bool open);

    // The profile operations reach the fields and the site list through these.
    SiteProfile profileFields() const override;
    void setProfileFields(const SiteProfile& fields) override;
    void setPortField(const QString& port) override;
    QStringList siteNameItems() const override;
    void clearSiteNameItems() override;
    void addSiteNameItem(const QString& name) override;
    void removeSiteNameItem(int index) override;
    QString siteNameText() const override;
    bool siteChanged() const override;
    void setSiteChanged(bool changed) override;
    void newSite() override;

    Prompter& m_prompter;
    PasswordKeyring* m_keyring = nullptr;
    // The loaded profile's password is in the keyring, which could not be read; cleared as
    // soon as the user types a password.
    bool m_passwordUnread = false;
    ProfileStore m_store{QString()};
    // Field labels, kept so that each field can be added with its label as buddy.
    QList<QLabel*> m_labels;
};
