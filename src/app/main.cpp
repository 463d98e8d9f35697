#include "about/ui/AboutForm.h"
#include "app/ui/FTPMain.h"
#include "app/ui/QtPrompter.h"
#include "editor/ui/EditForm.h"
#include "sites/ui/ConfigForm.h"
#include "transfer/ui/MsgForm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZUL-FTP"));
    QGuiApplication::setDesktopFileName(QStringLiteral("zulftp"));
    // The program ends when the main window has closed, even if a window of its own (help,
    // progress) is still up; FormClose has saved the settings by then.
    QApplication::setQuitOnLastWindowClosed(false);

    QtPrompter prompter;
    // The five windows, in this order; the main window's FormCreate runs before the others
    // exist and touches none of them. None is created later: dialogs are shown and hidden.
    TfrmMain frmMain(prompter);
    TfrmConfig frmConfig(prompter, &frmMain);
    frmMain.setConfigForm(&frmConfig);
    TfrmAbout frmAbout(&frmMain);
    frmMain.setAboutForm(&frmAbout);
    TfrmMsg frmMsg(&frmMain);
    frmMain.setMsgForm(&frmMsg);
    TfrmEdit frmEdit(&frmMain);
    frmMain.setEditForm(&frmEdit);

    QObject::connect(&frmMain, &TfrmMain::formClosed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    frmMain.show();
    // Ask for activation ourselves: without a window manager (a bare X server, a kiosk
    // session) nobody else activates the window, and the first activation is what starts
    // the automatic connect.
    frmMain.activateWindow();
    return QApplication::exec();
}
