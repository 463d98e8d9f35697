#include "transfer/ui/MainTransferHost.h"

#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "common/FileListModel.h"
#include "ftp/FtpConnection.h"
#include "remote/FtpServerSession.h"
#include "transfer/ui/MsgForm.h"

#include <QApplication>
#include <QItemSelectionModel>

HINTERNET MainTransferHost::connectionHandle() const
{
    return FtpConnectionHandle(FtpConnection.session());
}

ServerSession& MainTransferHost::session()
{
    return FtpConnection.session();
}

bool MainTransferHost::lowerCaseUpload() const
{
    return Settings.LowerCaseUpload;
}

QString MainTransferHost::localFolder() const
{
    return m_form.currentLocalFolder();
}

ProgressSink& MainTransferHost::progress()
{
    if (m_form.frmMsg)
        return *m_form.frmMsg;
    return m_noProgress;
}

void MainTransferHost::reportFtpError(const QString& message)
{
    m_form.ReportFtpError(message);
}

void MainTransferHost::warn(const QString& text)
{
    m_form.prompter().messageBeep(MB_ICONEXCLAMATION);
    m_form.prompter().message(QStringLiteral("Warning"), text, MessageIcon::Warning);
}

ResumeAnswer MainTransferHost::askResume(const QString& text)
{
    m_form.prompter().messageBeep(MB_ICONQUESTION);
    switch (m_form.prompter().askChoice(QStringLiteral("Confirm"), text, QStringLiteral("Resume"),
                                        QStringLiteral("Start Over"))) {
    case PromptAnswer::Yes:
        return ResumeAnswer::Resume;
    case PromptAnswer::No:
        return ResumeAnswer::StartOver;
    case PromptAnswer::Cancel:
        break;
    }
    return ResumeAnswer::Cancel;
}

bool MainTransferHost::askYesNo(const QString& text)
{
    m_form.prompter().messageBeep(MB_ICONQUESTION);
    return m_form.prompter().askYesNo(QStringLiteral("Confirm"), text);
}

QByteArray MainTransferHost::serverIdentity() const
{
    return FtpConnection.Connected ? FtpConnection.ConnectedServer.toUtf8() : QByteArray();
}

void MainTransferHost::setBusyCursor(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        return;
    }
    // The normal cursor, whatever was stacked meanwhile (an error report restores it too).
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void MainTransferHost::listRemoteFiles()
{
    m_form.ListRemoteFiles();
}

void MainTransferHost::listLocalFiles()
{
    m_form.ListLocalFiles();
}

void MainTransferHost::showFileError(const QString& text)
{
    m_form.prompter().message(QApplication::applicationName(), text, MessageIcon::Error);
}

ExistsAnswer MainTransferHost::askExists(const QString& text, bool canResume)
{
    m_form.prompter().messageBeep(MB_ICONQUESTION);
    return m_form.prompter().askExists(QStringLiteral("Target File Exists"), text, canResume);
}

std::optional<QString> MainTransferHost::askNewName(const QString& prompt, const QString& proposal)
{
    return m_form.prompter().inputBox(QStringLiteral("Rename"), prompt, proposal);
}

int ListViewSelection::nextSelected(int after) const
{
    const int rows = m_view.model() ? m_view.model()->rowCount() : 0;
    QItemSelectionModel* selection = m_view.selectionModel();
    if (!selection)
        return -1;
    for (int row = after + 1; row < rows; ++row) {
        if (selection->isRowSelected(row))
            return row;
    }
    return -1;
}

void ListViewSelection::deselect(int row)
{
    if (QItemSelectionModel* selection = m_view.selectionModel())
        selection->select(m_view.model()->index(row, 0),
                          QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
}

FileListRow ListViewSelection::row(int index) const
{
    return m_view.fileModel()->row(index);
}
