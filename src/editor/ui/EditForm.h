#pragma once
#include "editor/EditorText.h"
#include "editor/RemoteEdit.h"

#include <QByteArray>
#include <QDialog>

class Prompter;
class QAction;
class QKeyEvent;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class TfrmMain;

// The text editor window for a remote file, shown modally by the Open command: the
// temporary copy's text, saved back to the server in place of the remote file or into a
// local file.
class TfrmEdit : public QDialog
{
    Q_OBJECT
public:
    TfrmEdit(Prompter& prompter, TfrmMain* mainWindow);

    // Set by the Open command before each showing.
    QString TempFilePath;
    // The remote file's name exactly as the server listed it: a save sends these bytes back.
    QByteArray RemoteFileName;
    // The server's file as it was when opened or last saved: a save over a file that someone
    // changed since asks first.
    RemoteVersion RemoteFileVersion;
    // The text differs from what was last loaded or saved.
    bool EditorChanged = false;
    // A save reached the server since the Open command set this false: the remote list then
    // shows an old size and date until it is listed again.
    bool SavedRemote = false;

    void FormShow();
    // Each returns true when the text was stored.
    bool mnuSaveRemoteClick();
    bool mnuSaveLocalClick();
    void mnuCloseClick();
    // Whether a key typed into the editor marks the text changed: characters, Backspace,
    // Enter, Tab and control characters do; movement keys and Delete do not (a Delete that
    // removes text is caught as a change of the text itself).
    void EditorKeyPress(QKeyEvent* event);
    // The question of every closing; true when the window may close.
    bool FormCloseQuery();

    // The bytes a save writes: the text with the line ends it was read with, or, for a file
    // shown read-only, the bytes as they were read.
    QByteArray textBytes() const;
    bool isReadOnlyCopy() const { return !m_content.editable; }

    QMenuBar* MainMenu = nullptr;
    QMenu* mnuFile = nullptr;
    QAction* mnuSaveRemote = nullptr;
    QAction* mnuSaveLocal = nullptr;
    QAction* mnuClose = nullptr;
    QPlainTextEdit* Editor = nullptr;

Q_SIGNALS:
    // FormShow has loaded the copy: the window is ready for the user.
    void formShown();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void placeOverMainWindow();
    void loadCopy();
    void warn(const QString& text);
    // The editor's text with "\n" line ends.
    QString editorText() const;
    void textChanged(int position, int removed, int added);

    Prompter& m_prompter;
    TfrmMain* m_main;
    EditorContent m_content;
    QByteArray m_original;
    bool m_loading = false;
    bool m_showing = false;
    bool m_saving = false;
};
