#include "about/ui/AboutForm.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

TfrmAbout::TfrmAbout(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAccessibleName(QStringLiteral("About ZUL-FTP"));
    setWindowTitle(QStringLiteral("About ZUL-FTP"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QDialogButtonBox(this);
    btnOK = buttons->addButton(QDialogButtonBox::Ok);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setAccessibleName(QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addStretch(1);
    layout->addWidget(buttons);
    resize(300, 200);
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
