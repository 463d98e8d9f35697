#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "ftp/RemoteSession.h"
#include "sites/ProfileStore.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolBar>

#include <algorithm>

// The site picker and the quick connect bar above the panes. The picker makes the same
// choice of current site that Configure makes; the quick connect reaches a server through the
// same connect steps as a saved site, from a profile that is never written anywhere.

namespace {

const QString kQuickConnectCaption = QStringLiteral("Quick Connect");
constexpr int kDefaultFtpPort = 21;

QToolBar* newBar(QWidget* parent, const QString& name, const QString& accessibleName)
{
    auto* bar = new QToolBar(parent);
    bar->setObjectName(name);
    bar->setAccessibleName(accessibleName);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->toggleViewAction()->setVisible(false);
    return bar;
}

// A label whose mnemonic moves the focus to `field`.
QLabel* newLabel(QWidget* parent, const QString& caption, QWidget* field)
{
    auto* label = new QLabel(caption, parent);
    label->setBuddy(field);
    label->setContentsMargins(6, 0, 2, 0);
    return label;
}

QLineEdit* newField(QWidget* parent, const QString& name, const QString& accessibleName, int width)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setAccessibleName(accessibleName);
    field->setFixedWidth(width);
    return field;
}

// "user@host:port" as the drop-down lists a recent entry.
QString entryText(const QuickConnectEntry& entry)
{
    const QString server = QStringLiteral("%1:%2").arg(entry.host).arg(entry.port);
    return entry.user.isEmpty() ? server : entry.user + QLatin1Char('@') + server;
}

} // namespace

void TfrmMain::buildConnectBars()
{
    // The picker beside the command buttons, the quick connect fields in a row of their own.
    SiteBar = newBar(this, QStringLiteral("SiteBar"), QStringLiteral("Site"));
    cboSites = new QComboBox(SiteBar);
    cboSites->setObjectName(QStringLiteral("cboSites"));
    cboSites->setAccessibleName(QStringLiteral("Current site"));
    cboSites->setToolTip(QStringLiteral("The saved site that Connect connects to"));
    cboSites->setMinimumContentsLength(10);
    cboSites->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    SiteBar->addWidget(newLabel(SiteBar, QStringLiteral("Si&te:"), cboSites));
    SiteBar->addWidget(cboSites);
    connect(cboSites, &QComboBox::activated, this, &TfrmMain::cboSitesActivated);
    addToolBar(Qt::TopToolBarArea, SiteBar);
    addToolBarBreak(Qt::TopToolBarArea);

    QuickConnectBar =
        newBar(this, QStringLiteral("QuickConnectBar"), QStringLiteral("Quick connect"));
    cboQuickHost = new QComboBox(QuickConnectBar);
    cboQuickHost->setObjectName(QStringLiteral("cboQuickHost"));
    cboQuickHost->setAccessibleName(QStringLiteral("Quick connect host"));
    cboQuickHost->setEditable(true);
    cboQuickHost->setInsertPolicy(QComboBox::NoInsert);
    cboQuickHost->setFixedWidth(170);
    txtQuickUser = newField(QuickConnectBar, QStringLiteral("txtQuickUser"),
                            QStringLiteral("Quick connect user name"), 110);
    txtQuickUser->setPlaceholderText(QStringLiteral("anonymous"));
    txtQuickPassword = newField(QuickConnectBar, QStringLiteral("txtQuickPassword"),
                                QStringLiteral("Quick connect password"), 110);
    txtQuickPassword->setEchoMode(QLineEdit::Password);
    // No length limit: a limit keeps the first digits of what is typed over a number and
    // makes another port of it; a wrong number is refused at Connect instead.
    txtQuickPort = newField(QuickConnectBar, QStringLiteral("txtQuickPort"),
                            QStringLiteral("Quick connect port"), 56);
    txtQuickPort->setPlaceholderText(QString::number(kDefaultFtpPort));
    btnQuickConnect = new QPushButton(QStringLiteral("&Quick Connect"), QuickConnectBar);
    btnQuickConnect->setObjectName(QStringLiteral("btnQuickConnect"));
    btnQuickConnect->setAccessibleName(kQuickConnectCaption);
    btnQuickConnect->setAutoDefault(false);
    QuickConnectBar->addWidget(
        newLabel(QuickConnectBar, QStringLiteral("Host na&me:"), cboQuickHost));
    QuickConnectBar->addWidget(cboQuickHost);
    QuickConnectBar->addWidget(newLabel(QuickConnectBar, QStringLiteral("Lo&gin:"), txtQuickUser));
    QuickConnectBar->addWidget(txtQuickUser);
    QuickConnectBar->addWidget(
        newLabel(QuickConnectBar, QStringLiteral("Pass&word:"), txtQuickPassword));
    QuickConnectBar->addWidget(txtQuickPassword);
    QuickConnectBar->addWidget(
        newLabel(QuickConnectBar, QStringLiteral("Port num&ber:"), txtQuickPort));
    QuickConnectBar->addWidget(txtQuickPort);
    // The protocol choice goes here once a second protocol can be chosen.
    QuickConnectBar->addWidget(btnQuickConnect);
    connect(btnQuickConnect, &QPushButton::clicked, this, &TfrmMain::btnQuickConnectClick);
    connect(cboQuickHost, &QComboBox::activated, this, &TfrmMain::cboQuickHostActivated);
    // Enter in any field connects, as the button does.
    for (QLineEdit* field :
         {cboQuickHost->lineEdit(), txtQuickUser, txtQuickPassword, txtQuickPort})
        connect(field, &QLineEdit::returnPressed, this, &TfrmMain::btnQuickConnectClick);
    addToolBar(Qt::TopToolBarArea, QuickConnectBar);
}

void TfrmMain::fillSitePicker()
{
    QStringList names = ProfileStore(ProfileFilePath()).siteNames();
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    cboSites->clear();
    cboSites->addItems(names);
    int current = -1;
    for (int i = 0; i < names.size() && current < 0; ++i)
        if (names[i].compare(Settings.LastSite, Qt::CaseInsensitive) == 0)
            current = i;
    cboSites->setCurrentIndex(current);
    cboSites->setEnabled(!names.isEmpty());
}

void TfrmMain::cboSitesActivated(int index)
{
    if (index < 0 || !selectSite(cboSites->itemText(index)))
        fillSitePicker(); // back to the site that stayed current
}

bool TfrmMain::selectSite(const QString& name)
{
    if (name == Settings.LastSite)
        return true;
    if (isConnected() && !askDisconnectFor(name))
        return false;
    if (!WriteLastSite(name, m_prompter))
        return false;
    LoadSettings(*this, m_prompter);
    showConnectionName(isConnected());
    fillSitePicker();
    return true;
}

bool TfrmMain::askDisconnectFor(const QString& next)
{
    m_prompter.messageBeep(MB_ICONQUESTION);
    if (!m_prompter.askYesNo(
            QString::fromLatin1(kAppTitle),
            QStringLiteral("You are connected to \"%1\". Disconnect from it and go on to \"%2\"?")
                .arg(m_connectionName, next)))
        return false;
    btnDisconnectClick();
    return !isConnected();
}

void TfrmMain::showConnectionName(bool connected)
{
    const QString name = connected ? m_connectionName : Settings.LastSite;
    setWindowTitle(QStringLiteral("ZUL-FTP - ") + name);
    setStatusText(0, name);
}

void TfrmMain::fillQuickHosts()
{
    const QString typed = cboQuickHost->currentText();
    cboQuickHost->clear();
    for (const QuickConnectEntry& entry : std::as_const(Settings.QuickConnectRecent))
        cboQuickHost->addItem(entryText(entry),
                              QStringList{entry.host, entry.user, QString::number(entry.port)});
    cboQuickHost->setCurrentIndex(-1);
    cboQuickHost->setEditText(typed);
}

void TfrmMain::cboQuickHostActivated(int index)
{
    const QStringList entry = cboQuickHost->itemData(index).toStringList();
    if (entry.size() != 3)
        return;
    cboQuickHost->setEditText(entry[0]);
    txtQuickUser->setText(entry[1]);
    txtQuickPort->setText(entry[2]);
    txtQuickPassword->clear();
    txtQuickPassword->setFocus(Qt::OtherFocusReason);
}

void TfrmMain::btnQuickConnectClick()
{
    const QString hostName = cboQuickHost->currentText().trimmed();
    if (hostName.isEmpty()) {
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(kQuickConnectCaption,
                           QStringLiteral("Enter the name or address of the server to connect "
                                          "to in the Host field."),
                           MessageIcon::Warning);
        cboQuickHost->setFocus(Qt::OtherFocusReason);
        return;
    }
    const QString portText = txtQuickPort->text().trimmed();
    const std::optional<int> port =
        portText.isEmpty() ? std::optional<int>(kDefaultFtpPort) : PortTextToInt(portText);
    if (!port || *port < 1 || *port > 65535) {
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(kQuickConnectCaption,
                           QStringLiteral("'%1' is not a port number. Enter a number from 1 to "
                                          "65535, or leave the field empty for %2.")
                               .arg(portText)
                               .arg(kDefaultFtpPort),
                           MessageIcon::Warning);
        txtQuickPort->setFocus(Qt::OtherFocusReason);
        return;
    }
    const QString server = QStringLiteral("%1:%2").arg(hostName).arg(*port);
    if (isConnected() && !askDisconnectFor(server))
        return;
    // A new site's encryption, and no site name: nothing of it is stored in the profile file.
    SiteProfile site;
    site.host = hostName;
    site.port = QString::number(*port);
    site.userID =
        txtQuickUser->text().isEmpty() ? QStringLiteral("anonymous") : txtQuickUser->text();
    site.password = txtQuickPassword->text();
    site.encryption = QString::fromLatin1(kEncryptionIfAvailable);
    m_connectionName = server;
    if (!connectToProfile(site))
        return;
    // Only where the server was reached, and without the password.
    RememberQuickConnect({hostName, txtQuickUser->text(), *port}, m_prompter);
    fillQuickHosts();
}

void TfrmMain::mnuQuickConnectBarClick()
{
    const bool shown = mnuQuickConnectBar->isChecked();
    QuickConnectBar->setVisible(shown);
    WriteQuickConnectBarShown(shown, m_prompter);
}
