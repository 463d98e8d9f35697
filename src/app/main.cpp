#include "about/ui/AboutForm.h"
#include "app/ui/FTPMain.h"
#include "app/ui/QtPrompter.h"
#include "editor/ui/EditForm.h"
#include "queue/QueueStore.h"
#include "queue/ui/BackgroundTransfers.h"
#include "sites/ui/ConfigForm.h"
#include "sites/ui/DesktopKeyring.h"
#include "transfer/ui/MsgForm.h"

#include "about/FileVersion.h"
#include "sftp/Askpass.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {
// What a Linux user expects of any program: --version and --help answer on the terminal and
// end, before any window (or display connection) is made. The version is the one the About
// box shows, read from this executable file.
bool answerCommandLine(int argc, char* argv[], int& exitCode)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            const QByteArray version = ReadFileVersion().toUtf8();
            if (version.isEmpty()) {
                std::fprintf(stderr, "zulftp: this executable carries no version information\n");
                exitCode = 1;
            } else {
                std::printf("ZUL-FTP %s\n", version.constData());
                exitCode = 0;
            }
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: zulftp [--version] [--help]\n"
                        "A two-pane FTP client: your files on the left, the server's on the "
                        "right.\nPress F1 in the program for its manual.\n");
            exitCode = 0;
            return true;
        }
    }
    return false;
}
} // namespace

int main(int argc, char* argv[])
{
    int exitCode = sftp::runAskpassHelper(argc, argv); // started by ssh to ask the user
    if (exitCode >= 0)
        return exitCode;
    if (answerCommandLine(argc, argv, exitCode))
        return exitCode;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZUL-FTP"));
    QGuiApplication::setDesktopFileName(QStringLiteral("zulftp"));
    // The program ends when the main window has closed, even if a window of its own (help,
    // progress) is still up; FormClose has saved the settings by then.
    QApplication::setQuitOnLastWindowClosed(false);

    QtPrompter prompter;
    DesktopKeyring keyring;
    // The five windows, in this order; the main window's FormCreate runs before the others
    // exist and touches none of them. None is created later: dialogs are shown and hidden.
    TfrmMain frmMain(prompter);
    frmMain.setKeyring(&keyring);
    TfrmConfig frmConfig(prompter, &frmMain);
    frmConfig.setKeyring(&keyring);
    frmMain.setConfigForm(&frmConfig);
    TfrmAbout frmAbout(prompter, &frmMain);
    frmMain.setAboutForm(&frmAbout);
    TfrmMsg frmMsg(&frmMain);
    frmMain.setMsgForm(&frmMsg);
    TfrmEdit frmEdit(prompter, &frmMain);
    frmMain.setEditForm(&frmEdit);

    QObject::connect(&frmMain, &TfrmMain::formClosed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // Owned by the window (its child), which ends it before the window's own end.
    auto* background = new BackgroundTransfers(frmMain, QueueStore::defaultFilePath());
    frmMain.setBackgroundTransfers(background);
    frmMain.show();
    // Ask for activation ourselves: without a window manager (a bare X server, a kiosk
    // session) nobody else activates the window, and the first activation is what starts
    // the automatic connect.
    frmMain.activateWindow();
    // Once the window is up and activated (an automatic connect may have run by then).
    QTimer::singleShot(0, background, [background] { background->offerLeftBehind(); });
    return QApplication::exec();
}
