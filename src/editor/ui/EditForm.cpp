#include "editor/ui/EditForm.h"

TfrmEdit::TfrmEdit(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName(QStringLiteral("frmEdit"));
    setAccessibleName(QStringLiteral("Editor"));
    setWindowTitle(QStringLiteral("ZUL-FTP Editor"));
    setModal(true);
    resize(640, 480);
}
