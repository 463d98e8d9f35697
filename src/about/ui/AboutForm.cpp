#include "about/ui/AboutForm.h"

#include "about/FileVersion.h"
#include "common/Prompter.h"

#include <QDate>
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
// The client area the box was designed for; a larger system font only makes it grow.
constexpr int kDesignWidth = 291;
constexpr int kDesignHeight = 202;
constexpr int kIconSize = 32;
constexpr int kTitlePixelHeight = 29;

QLabel* addLabel(QWidget* parent, const QString& name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAccessibleName(text);
    return label;
}
} // namespace

TfrmAbout::TfrmAbout(Prompter& prompter, QWidget* mainWindow, const QString& executablePath)
    : QDialog(mainWindow), m_prompter(prompter)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAccessibleName(QStringLiteral("About ZUL-FTP"));
    setWindowTitle(QStringLiteral("About ZUL-FTP"));
    setModal(true);
    // A fixed dialog border without any title-bar buttons: OK, Enter or Escape close it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    createControls();
    FormCreate(executablePath);
    setFixedSize(sizeHint().expandedTo(QSize(kDesignWidth, kDesignHeight)));
}

void TfrmAbout::createControls()
{
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(QStringLiteral("ZUL-FTP icon"));
    Image1->setPixmap(QIcon(QStringLiteral(":/icons/zulftp.svg")).pixmap(kIconSize, kIconSize));
    Image1->setFixedSize(kIconSize, kIconSize);

    Label1 = addLabel(this, QStringLiteral("Label1"), QStringLiteral("ZUL-FTP"));
    QFont title = Label1->font();
    title.setBold(true);
    title.setPixelSize(kTitlePixelHeight);
    Label1->setFont(title);
    Label2 = addLabel(this, QStringLiteral("Label2"), QStringLiteral("FTP Client Application"));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setAccessibleName(QStringLiteral("Separator"));
    Panel1->setFrameShape(QFrame::HLine);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setFixedHeight(2);

    lblVersion = addLabel(this, QStringLiteral("lblVersion"), QString());
    lblNotice = addLabel(this, QStringLiteral("lblNotice"), QString());
    Label3 = addLabel(this, QStringLiteral("Label3"), QStringLiteral("Tarnwick"));
    lblWeb = addLabel(this, QStringLiteral("lblWeb"), QString::fromLatin1(kWebAddress));
    QFont link = lblWeb->font();
    link.setUnderline(true);
    lblWeb->setFont(link);
    lblWeb->setForegroundRole(QPalette::Link);
    lblWeb->setCursor(Qt::PointingHandCursor);
    lblWeb->installEventFilter(this);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setAccessibleName(QStringLiteral("OK"));
    // The default button, and the cancel button too: QDialog's Escape rejects, which closes
    // the box just as OK does.
    btnOK->setDefault(true);
    btnOK->setAutoDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* heading = new QVBoxLayout;
    heading->addWidget(Label1);
    heading->addWidget(Label2);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(heading, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Panel1);
    for (QLabel* label : {lblVersion, lblNotice, Label3, lblWeb})
        layout->addWidget(label);
    layout->addStretch(1);
    layout->addLayout(buttons);
}

void TfrmAbout::FormCreate(const QString& executablePath)
{
    // Both texts are set once: a box shown after New Year keeps the year the program started.
    const QString notice = QStringLiteral("Copyright \u00A9 %1. All rights reserved.")
                               .arg(QDate::currentDate().year());
    lblNotice->setText(notice);
    lblNotice->setAccessibleName(notice);
    const QString version =
        executablePath.isEmpty() ? ReadFileVersion() : ReadFileVersion(executablePath);
    lblVersion->setText(QStringLiteral("Version ") + version);
    lblVersion->setAccessibleName(lblVersion->text());
}

void TfrmAbout::lblWebClick()
{
    const QString address = QString::fromLatin1(kWebAddress);
    if (QDesktopServices::openUrl(QUrl(address)))
        return;
    m_prompter.messageBeep(MB_ICONEXCLAMATION);
    m_prompter.message(QStringLiteral("About ZUL-FTP"),
                       QStringLiteral("No web browser could be started for %1.").arg(address),
                       MessageIcon::Warning);
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblWeb && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        lblWebClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAbout::showEvent(QShowEvent* event)
{
    // Centred over the main window at every showing, as every dialog of the program is.
    if (QWidget* owner = parentWidget()) {
        const QRect main = owner->frameGeometry();
        move(main.left() + (main.width() - width()) / 2,
             main.top() + (main.height() - height()) / 2);
    }
    QDialog::showEvent(event);
}
