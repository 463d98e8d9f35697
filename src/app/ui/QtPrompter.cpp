#include "app/ui/QtPrompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <utility>
#include <vector>

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

int runBox(QWidget* parent, const QString& caption, const QString& text, MessageIcon icon,
           QMessageBox::StandardButtons buttons, const QString& detail = {})
{
    QMessageBox box(toQtIcon(icon), caption, text, buttons, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    if (!detail.isEmpty()) {
        box.setDetailedText(detail);
        // "Show Details..." keeps the focus after it is pressed; as a default button it
        // would take Enter too, and fold the details away instead of closing the box.
        for (QAbstractButton* button : box.buttons())
            if (auto* push = qobject_cast<QPushButton*>(button);
                push && box.buttonRole(button) == QMessageBox::ActionRole)
                push->setAutoDefault(false);
        if (QAbstractButton* ok = box.button(QMessageBox::Ok))
            box.setDefaultButton(qobject_cast<QPushButton*>(ok));
    }
    return box.exec();
}

} // namespace

QWidget* QtPrompter::parentWidget() const
{
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return m_fallbackParent.data();
}

void QtPrompter::messageBeep(unsigned int /*type*/)
{
    // The desktop decides the sound; every beep kind maps to the bell.
    QApplication::beep();
}

void QtPrompter::message(const QString& caption, const QString& text, MessageIcon icon,
                         const QString& detail)
{
    runBox(parentWidget(), caption, text, icon, QMessageBox::Ok, detail);
}

bool QtPrompter::askYesNo(const QString& caption, const QString& text, MessageIcon icon)
{
    return runBox(parentWidget(), caption, text, icon, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool QtPrompter::askYesNoDefaultNo(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parentWidget());
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

PromptAnswer QtPrompter::askYesNoCancel(const QString& caption, const QString& text,
                                        MessageIcon icon)
{
    const int answer = runBox(parentWidget(), caption, text, icon,
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes)
        return PromptAnswer::Yes;
    if (answer == QMessageBox::No)
        return PromptAnswer::No;
    return PromptAnswer::Cancel;
}

int QtPrompter::titleBarWidth(const QString& title)
{
    // Title bars commonly use a bold face of the desktop's font.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    return QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarExtras;
}

std::optional<QString> QtPrompter::inputBox(const QString& caption, const QString& prompt,
                                            const QString& initialText)
{
    QInputDialog box(parentWidget());
    box.setObjectName(QStringLiteral("InputBox"));
    box.setWindowTitle(caption);
    box.setInputMode(QInputDialog::TextInput);
    box.setLabelText(prompt);
    box.setTextValue(initialText);
    // The window manager draws the title at the window's width: a box only as wide as its
    // field shows "New Folder Name" as "New F... Name". Nothing inside grows, so the size is
    // fixed, which also leaves no resize handle under the buttons.
    // The dialog's own layout sets its size limits when it is shown, so the limits go there;
    // asking for the size hint makes the dialog build that layout now.
    (void)box.sizeHint();
    auto* field = box.findChild<QLineEdit*>();
    if (QLayout* layout = box.layout(); layout && field) {
        const QMargins margins = layout->contentsMargins();
        field->setMinimumWidth(titleBarWidth(caption) - margins.left() - margins.right());
        layout->setSizeConstraint(QLayout::SetFixedSize);
    }
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
}

PromptAnswer QtPrompter::askChoice(const QString& caption, const QString& text,
                                   const QString& yesText, const QString& noText)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parentWidget());
    box.setObjectName(QStringLiteral("ChoiceBox"));
    QPushButton* yes = box.addButton(yesText, QMessageBox::YesRole);
    QPushButton* no = box.addButton(noText, QMessageBox::NoRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(yes);
    box.exec();
    if (box.clickedButton() == yes)
        return PromptAnswer::Yes;
    if (box.clickedButton() == no)
        return PromptAnswer::No;
    return PromptAnswer::Cancel;
}

ExistsAnswer QtPrompter::askExists(const QString& caption, const QString& text, bool canResume)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parentWidget());
    box.setObjectName(QStringLiteral("ExistsBox"));
    struct Choice
    {
        ExistsAction action;
        const char* name; // the button's objectName
        QString label;
    };
    const Choice choices[] = {
        {ExistsAction::Overwrite, "Overwrite", QStringLiteral("&Overwrite")},
        {ExistsAction::OverwriteIfNewer, "OverwriteIfNewer", QStringLiteral("Overwrite if &Newer")},
        {ExistsAction::Resume, "Resume", QStringLiteral("&Resume")},
        {ExistsAction::Rename, "Rename", QStringLiteral("Re&name")},
        {ExistsAction::Skip, "Skip", QStringLiteral("&Skip")},
    };
    std::vector<std::pair<QPushButton*, ExistsAction>> buttons;
    for (const Choice& choice : choices) {
        if (choice.action == ExistsAction::Resume && !canResume)
            continue;
        QPushButton* button = box.addButton(choice.label, QMessageBox::AcceptRole);
        button->setObjectName(QLatin1String(choice.name));
        buttons.emplace_back(button, choice.action);
        // Enter keeps the file the user has.
        if (choice.action == ExistsAction::Skip)
            box.setDefaultButton(button);
    }
    box.addButton(QMessageBox::Cancel);
    auto* rest = new QCheckBox(QStringLiteral("&Apply to the rest of this transfer"), &box);
    rest->setObjectName(QStringLiteral("ApplyToRest"));
    box.setCheckBox(rest);
    box.exec();
    for (const auto& [button, action] : buttons) {
        if (box.clickedButton() == button)
            return {action, rest->isChecked()};
    }
    return {};
}

std::optional<QString> QtPrompter::inputPassword(const QString& caption, const QString& prompt)
{
    QInputDialog box(parentWidget());
    box.setObjectName(QStringLiteral("PasswordBox"));
    box.setWindowTitle(caption);
    box.setInputMode(QInputDialog::TextInput);
    box.setTextEchoMode(QLineEdit::Password);
    box.setLabelText(prompt);
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
}

QString QtPrompter::chooseFolder(const QString& caption, const QString& startFolder)
{
    return QFileDialog::getExistingDirectory(parentWidget(), caption, startFolder);
}

QString QtPrompter::chooseOpenFile(const QString& caption, const QString& startPath,
                                   const QString& filter)
{
    return QFileDialog::getOpenFileName(parentWidget(), caption, startPath, filter);
}

QString QtPrompter::chooseSaveFile(const QString& caption, const QString& startPath,
                                   const QString& filter)
{
    return QFileDialog::getSaveFileName(parentWidget(), caption, startPath, filter);
}

CertificateAnswer QtPrompter::askCertificate(const QString& caption, const QString& text,
                                             bool changed)
{
    QMessageBox box(changed ? QMessageBox::Warning : QMessageBox::Question, caption, text,
                    QMessageBox::NoButton, parentWidget());
    box.setObjectName(QStringLiteral("CertificateBox"));
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton* once = box.addButton(QStringLiteral("Trust &once"), QMessageBox::AcceptRole);
    QPushButton* always = box.addButton(QStringLiteral("Trust &always"), QMessageBox::AcceptRole);
    QPushButton* refuse = box.addButton(QStringLiteral("Do &not connect"), QMessageBox::RejectRole);
    once->setObjectName(QStringLiteral("btnTrustOnce"));
    always->setObjectName(QStringLiteral("btnTrustAlways"));
    refuse->setObjectName(QStringLiteral("btnRefuseCertificate"));
    // Enter and Escape both keep the connection closed: trusting must be a deliberate click.
    box.setDefaultButton(refuse);
    box.setEscapeButton(refuse);
    box.exec();
    if (box.clickedButton() == always)
        return CertificateAnswer::TrustAlways;
    if (box.clickedButton() == once)
        return CertificateAnswer::TrustOnce;
    return CertificateAnswer::Refuse;
}

PlainFtpAnswer QtPrompter::askPlainFtp(const QString& caption, const QString& text, bool loud)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::NoButton, parentWidget());
    box.setObjectName(QStringLiteral("PlainFtpBox"));
    QPushButton* once =
        box.addButton(QStringLiteral("Connect &without encryption"), QMessageBox::AcceptRole);
    once->setObjectName(QStringLiteral("btnPlainOnce"));
    QPushButton* always = nullptr;
    if (!loud) {
        always = box.addButton(QStringLiteral("&Always allow plain FTP for this site"),
                               QMessageBox::AcceptRole);
        always->setObjectName(QStringLiteral("btnPlainAlways"));
    }
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    // Enter and Escape keep the password at home: sending it in clear must be a deliberate click.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (always && box.clickedButton() == always)
        return PlainFtpAnswer::AllowAlways;
    if (box.clickedButton() == once)
        return PlainFtpAnswer::ConnectOnce;
    return PlainFtpAnswer::Cancel;
}
