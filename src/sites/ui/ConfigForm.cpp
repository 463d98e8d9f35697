#include "sites/ui/ConfigForm.h"

#include "app/ui/LabelledComboBox.h"
#include "sites/ui/TypingLimit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// The client area of the design; the platform font may ask for more, never less.
constexpr QSize kClientSize(401, 289);

QLabel* makeLabel(const char* objectName, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(objectName));
    return label;
}

QPushButton* makeButton(const char* objectName, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(objectName));
    QString accessible = caption;
    button->setAccessibleName(accessible.remove(QLatin1Char('&')));
    // A focused button takes Enter for itself; elsewhere Enter presses OK.
    button->setAutoDefault(true);
    return button;
}

} // namespace

TfrmConfig::TfrmConfig(Prompter& prompter, QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_prompter(prompter)
{
    setObjectName(QStringLiteral("frmConfig"));
    setAccessibleName(QStringLiteral("Configure"));
    setWindowTitle(QStringLiteral("Configure"));
    setModal(true);
    // The dialog takes the main window's font, as its design does.
    setAttribute(Qt::WA_WindowPropagation);

    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("Tabs"));
    Tabs->setAccessibleName(QStringLiteral("Configuration pages"));
    Tabs->addTab(buildFtpPage(), QStringLiteral("FTP"));
    Tabs->addTab(buildOptionsPage(), QStringLiteral("Options"));
    buildButtons();

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btnOK);
    bottom->addWidget(btnCancel);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(Tabs);
    outer->addLayout(bottom);

    applyTabOrder();
    connectHandlers();
    setFixedSize(sizeHint().expandedTo(kClientSize));
    FormCreate();
}

TfrmConfig::~TfrmConfig() = default;

QLineEdit* TfrmConfig::addField(const char* objectName, const QString& label, int limit)
{
    auto* field = new QLineEdit(TabSheet1);
    field->setObjectName(QString::fromLatin1(objectName));
    field->setAccessibleName(label);
    if (limit > 0)
        SetTypingLimit(field, limit);
    QString labelName = QString::fromLatin1(objectName);
    labelName.replace(0, 3, QStringLiteral("lbl"));
    QLabel* caption = makeLabel(labelName.toLatin1().constData(), label, TabSheet1);
    caption->setBuddy(field);
    m_labels.append(caption);
    return field;
}

QWidget* TfrmConfig::buildFtpPage()
{
    TabSheet1 = new QWidget(this);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));

    // Its accessible name stays "Web Site" whichever site is chosen.
    cboSiteName = new LabelledComboBox(TabSheet1);
    cboSiteName->setObjectName(QStringLiteral("cboSiteName"));
    cboSiteName->setAccessibleName(QStringLiteral("Web Site"));
    cboSiteName->setEditable(false);
    cboSiteName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    QLabel* lblWebSite = makeLabel("lblWebSite", QStringLiteral("Web Site"), TabSheet1);
    lblWebSite->setBuddy(cboSiteName);

    txtSiteName = addField("txtSiteName", QStringLiteral("Site Name"), ConfigLogic::kSiteNameLimit);
    txtHost = addField("txtHost", QStringLiteral("Host"), 0);
    txtPort = addField("txtPort", QStringLiteral("Port"), ConfigLogic::kPortLimit);
    txtUserID = addField("txtUserID", QStringLiteral("User ID"), 0);
    txtPassword = addField("txtPassword", QStringLiteral("Password"), ConfigLogic::kPasswordLimit);
    txtDirectory = addField("txtDirectory", QStringLiteral("Directory"), 0);
    txtPassword->setEchoMode(QLineEdit::Password);
    // Each character shows as a star, whatever the style's own password character is.
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    txtPort->setMaximumWidth(txtPort->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 8 +
                             16);
    txtPort->installEventFilter(this);
    // Pastes from the context menu or the mouse's selection pass no key filter; a text with
    // anything but digits is refused whole rather than kept in part.
    txtPort->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), txtPort));

    cboEncryption = new QComboBox(TabSheet1);
    cboEncryption->setObjectName(QStringLiteral("cboEncryption"));
    cboEncryption->setAccessibleName(QStringLiteral("Encryption"));
    cboEncryption->addItem(QStringLiteral("Use TLS if the server offers it"),
                           QString::fromLatin1(kEncryptionIfAvailable));
    cboEncryption->addItem(QStringLiteral("Require TLS (never send the password in clear)"),
                           QString::fromLatin1(kEncryptionRequired));
    cboEncryption->addItem(QStringLiteral("None (plain FTP, password in clear)"),
                           QString::fromLatin1(kEncryptionNone));
    QLabel* lblEncryption = makeLabel("lblEncryption", QStringLiteral("Encryption"), TabSheet1);
    lblEncryption->setBuddy(cboEncryption);
    cboProtocol = new QComboBox(TabSheet1);
    cboProtocol->setObjectName(QStringLiteral("cboProtocol"));
    cboProtocol->setAccessibleName(QStringLiteral("Protocol"));
    cboProtocol->addItem(QStringLiteral("FTP"), QString());
    cboProtocol->addItem(QStringLiteral("SFTP (file transfer over SSH)"),
                         QString::fromLatin1(kProtocolSftp));
    cboProtocol->addItem(QStringLiteral("FTP over implicit TLS (port 990)"),
                         QString::fromLatin1(kProtocolFtps));
    QLabel* lblProtocol = makeLabel("lblProtocol", QStringLiteral("Protocol"), TabSheet1);
    lblProtocol->setBuddy(cboProtocol);

    btnNew = makeButton("btnNew", QStringLiteral("&New"), TabSheet1);
    btnSave = makeButton("btnSave", QStringLiteral("&Save"), TabSheet1);
    btnDelete = makeButton("btnDelete", QStringLiteral("&Delete"), TabSheet1);

    grpFTPConfiguration = new QGroupBox(QStringLiteral("FTP Configuration"), TabSheet1);
    grpFTPConfiguration->setObjectName(QStringLiteral("grpFTPConfiguration"));
    grpFTPConfiguration->setAccessibleName(QStringLiteral("FTP Configuration"));
    auto* grid = new QGridLayout(grpFTPConfiguration);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setVerticalSpacing(4);
    // Labels 0..5 are Site Name, Host, Port, User ID, Password, Directory.
    grid->addWidget(m_labels[0], 0, 0);
    grid->addWidget(txtSiteName, 0, 1, 1, 3);
    grid->addWidget(m_labels[1], 1, 0);
    grid->addWidget(txtHost, 1, 1);
    grid->addWidget(m_labels[2], 1, 2);
    grid->addWidget(txtPort, 1, 3);
    grid->addWidget(m_labels[3], 2, 0);
    grid->addWidget(txtUserID, 2, 1);
    grid->addWidget(m_labels[4], 2, 2);
    grid->addWidget(txtPassword, 2, 3);
    grid->addWidget(m_labels[5], 3, 0);
    grid->addWidget(txtDirectory, 3, 1, 1, 3);
    grid->addWidget(lblEncryption, 4, 0);
    grid->addWidget(cboEncryption, 4, 1, 1, 3);
    grid->addWidget(lblProtocol, 5, 0);
    grid->addWidget(cboProtocol, 5, 1, 1, 3);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnNew);
    buttons->addWidget(btnSave);
    buttons->addWidget(btnDelete);
    grid->addLayout(buttons, 6, 0, 1, 4);

    auto* siteRow = new QHBoxLayout;
    siteRow->addWidget(lblWebSite);
    siteRow->addWidget(cboSiteName, 1);
    auto* page = new QVBoxLayout(TabSheet1);
    page->setContentsMargins(6, 6, 6, 6);
    page->addLayout(siteRow);
    page->addWidget(grpFTPConfiguration);
    page->addStretch();
    return TabSheet1;
}

QWidget* TfrmConfig::buildOptionsPage()
{
    TabSheet2 = new QWidget(this);
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));

    txtDefaultPath = new QLineEdit(TabSheet2);
    txtDefaultPath->setObjectName(QStringLiteral("txtDefaultPath"));
    txtDefaultPath->setAccessibleName(QStringLiteral("Default Local Folder"));
    txtDefaultPath->setReadOnly(true);
    // Changed only through "...": drawn on the window's colour, so it does not look like a
    // field that takes typing.
    QPalette readOnlyLook = txtDefaultPath->palette();
    readOnlyLook.setColor(QPalette::Base, readOnlyLook.color(QPalette::Window));
    txtDefaultPath->setPalette(readOnlyLook);
    QLabel* lblDefaultPath =
        makeLabel("lblDefaultPath", QStringLiteral("Default Local Folder"), TabSheet2);
    lblDefaultPath->setBuddy(txtDefaultPath);

    btnBrowseDefault = makeButton("btnBrowseDefault", QStringLiteral("..."), TabSheet2);
    btnBrowseDefault->setAccessibleName(QStringLiteral("Browse for the default local folder"));
    QFont bold = btnBrowseDefault->font();
    bold.setBold(true);
    btnBrowseDefault->setFont(bold);
    btnBrowseDefault->setFixedWidth(
        btnBrowseDefault->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);

    chkAutoConnect =
        new QCheckBox(QStringLiteral("Automatically connect upon startup."), TabSheet2);
    chkAutoConnect->setObjectName(QStringLiteral("chkAutoConnect"));
    chkAutoConnect->setAccessibleName(QStringLiteral("Automatically connect upon startup"));
    chkLowerCase =
        new QCheckBox(QStringLiteral("Convert file names to lower case on upload."), TabSheet2);
    chkLowerCase->setObjectName(QStringLiteral("chkLowerCase"));
    chkLowerCase->setAccessibleName(QStringLiteral("Convert file names to lower case on upload"));
    chkPasswordsInKeyring =
        new QCheckBox(QStringLiteral("Store passwords in the desktop keyring"), TabSheet2);
    chkPasswordsInKeyring->setObjectName(QStringLiteral("chkPasswordsInKeyring"));
    chkPasswordsInKeyring->setAccessibleName(
        QStringLiteral("Store passwords in the desktop keyring"));
    chkPasswordsInKeyring->setEnabled(false);
    // Filled at each showing with what the keyring can do now.
    lblKeyringNote = new QLabel(TabSheet2);
    lblKeyringNote->setObjectName(QStringLiteral("lblKeyringNote"));
    lblKeyringNote->setWordWrap(true);
    lblKeyringNote->setIndent(20);

    chkBackgroundTransfers = new QCheckBox(QStringLiteral("Transfer in the background"), TabSheet2);
    chkBackgroundTransfers->setObjectName(QStringLiteral("chkBackgroundTransfers"));
    chkBackgroundTransfers->setAccessibleName(QStringLiteral("Transfer in the background"));
    chkBackgroundTransfers->setChecked(true);
    txtSimultaneousTransfers = new QSpinBox(TabSheet2);
    txtSimultaneousTransfers->setObjectName(QStringLiteral("txtSimultaneousTransfers"));
    txtSimultaneousTransfers->setAccessibleName(QStringLiteral("Simultaneous transfers"));
    txtSimultaneousTransfers->setRange(1, 10);
    txtSimultaneousTransfers->setValue(2);
    QLabel* lblSimultaneous =
        makeLabel("lblSimultaneousTransfers", QStringLiteral("Simultaneous transfers"), TabSheet2);
    lblSimultaneous->setBuddy(txtSimultaneousTransfers);
    connect(chkBackgroundTransfers, &QCheckBox::toggled, txtSimultaneousTransfers,
            &QWidget::setEnabled);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(txtDefaultPath, 1);
    pathRow->addWidget(btnBrowseDefault);
    auto* page = new QVBoxLayout(TabSheet2);
    page->setContentsMargins(10, 10, 10, 10);
    page->addWidget(lblDefaultPath);
    page->addLayout(pathRow);
    page->addSpacing(12);
    page->addWidget(chkAutoConnect);
    page->addWidget(chkLowerCase);
    page->addWidget(chkPasswordsInKeyring);
    page->addWidget(lblKeyringNote);
    page->addSpacing(12);
    auto* transfersRow = new QHBoxLayout;
    transfersRow->addWidget(lblSimultaneous);
    transfersRow->addWidget(txtSimultaneousTransfers);
    transfersRow->addStretch(1);
    page->addWidget(chkBackgroundTransfers);
    page->addLayout(transfersRow);
    page->addStretch();
    return TabSheet2;
}

void TfrmConfig::buildButtons()
{
    btnOK = makeButton("btnOK", QStringLiteral("OK"), this);
    btnOK->setDefault(true);
    btnCancel = makeButton("btnCancel", QStringLiteral("Cancel"), this);
}

void TfrmConfig::applyTabOrder()
{
    const QList<QWidget*> order = {cboSiteName, txtSiteName, txtHost,      txtPort,
                                   txtUserID,   txtPassword, txtDirectory, cboEncryption,
                                   cboProtocol, btnNew,      btnSave,      btnDelete};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void TfrmConfig::connectHandlers()
{
    connect(cboSiteName, &QComboBox::activated, this, &TfrmConfig::cboSiteNameClick);
    connect(btnNew, &QPushButton::clicked, this, &TfrmConfig::btnNewClick);
    connect(btnSave, &QPushButton::clicked, this, &TfrmConfig::btnSaveClick);
    connect(btnDelete, &QPushButton::clicked, this, &TfrmConfig::btnDeleteClick);
    for (QLineEdit* field : {txtSiteName, txtHost, txtPort, txtUserID, txtPassword, txtDirectory})
        connect(field, &QLineEdit::textChanged, this, &TfrmConfig::txtFieldChange);
    connect(txtPassword, &QLineEdit::textChanged, this, &TfrmConfig::txtPasswordChange);
    connect(cboEncryption, &QComboBox::currentIndexChanged, this, &TfrmConfig::txtFieldChange);
    connect(cboProtocol, &QComboBox::currentIndexChanged, this, &TfrmConfig::cboProtocolChange);
    connect(btnBrowseDefault, &QPushButton::clicked, this, &TfrmConfig::btnBrowseDefaultClick);
    connect(btnOK, &QPushButton::clicked, this, &TfrmConfig::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmConfig::btnCancelClick);
    connect(Tabs, &QTabWidget::currentChanged, this, &TfrmConfig::TabsChange);
}
