#include "editor/ui/EditForm.h"

#include "app/ui/FTPMain.h"
#include "common/CancelFlag.h"
#include "common/FileListRows.h"
#include "common/FileSystemError.h"
#include "common/OperationLock.h"
#include "common/Prompter.h"
#include "editor/RemoteEdit.h"
#include "transfer/ui/CommandLockout.h"
#include "transfer/ui/MainTransferHost.h"
#include "transfer/ui/MsgForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace {
const QString kEditorTitle = QStringLiteral("Remote File Editor");
constexpr int kDesignWidth = 444;
constexpr int kDesignHeight = 369;

// The hourglass for as long as it lives.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};
} // namespace

TfrmEdit::TfrmEdit(Prompter& prompter, TfrmMain* mainWindow)
    : QDialog(mainWindow), m_prompter(prompter), m_main(mainWindow)
{
    setObjectName(QStringLiteral("frmEdit"));
    setAccessibleName(kEditorTitle);
    setWindowTitle(kEditorTitle);
    setModal(true);
    setSizeGripEnabled(true);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    createControls();
    resize(kDesignWidth, kDesignHeight);
}

void TfrmEdit::createControls()
{
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    MainMenu->setAccessibleName(QStringLiteral("Menu bar"));
    mnuFile = MainMenu->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    auto addItem = [this](const QString& name, const QString& caption, auto handler) {
        QAction* item = mnuFile->addAction(caption);
        item->setObjectName(name);
        connect(item, &QAction::triggered, this, handler);
        return item;
    };
    mnuSaveRemote = addItem(QStringLiteral("mnuSaveRemote"), QStringLiteral("&Save &Remote"),
                            [this] { mnuSaveRemoteClick(); });
    // Ctrl+S, as in every editor, stores the text where it came from.
    mnuSaveRemote->setShortcut(QKeySequence::Save);
    mnuSaveLocal = addItem(QStringLiteral("mnuSaveLocal"), QStringLiteral("Save &Local"),
                           [this] { mnuSaveLocalClick(); });
    mnuFile->addSeparator();
    mnuClose =
        addItem(QStringLiteral("mnuClose"), QStringLiteral("&Close"), [this] { mnuCloseClick(); });

    Editor = new QPlainTextEdit(this);
    Editor->setObjectName(QStringLiteral("Editor"));
    Editor->setAccessibleName(QStringLiteral("File text"));
    Editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Editor->setTabChangesFocus(false);
    Editor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Editor->installEventFilter(this);
    connect(Editor->document(), &QTextDocument::contentsChange, this, &TfrmEdit::textChanged);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(MainMenu);
    layout->addWidget(Editor);
}

void TfrmEdit::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmEdit::FormShow()
{
    // The progress dialog pumps events; the window must not close before it is loaded.
    QScopedValueRollback showing(m_showing, true);
    WaitCursor hourglass;
    placeOverMainWindow();
    setWindowTitle(ServerNameText(RemoteFileName));
    setAccessibleName(windowTitle());
    ProgressSink* progress = m_main && m_main->frmMsg ? m_main->frmMsg : nullptr;
    if (progress)
        progress->ShowProgress(QStringLiteral("Opening \"%1\"").arg(TempFilePath),
                               QStringLiteral("Opening"), true, true);
    loadCopy();
    EditorChanged = false;
    if (progress)
        progress->CloseProgress();
    Editor->setFocus();
    if (!m_content.warning.isEmpty())
        warn(m_content.warning);
    Q_EMIT formShown();
}

void TfrmEdit::placeOverMainWindow()
{
    if (!m_main)
        return;
    const QRect main = m_main->frameGeometry();
    const int width = main.width() * 3 / 4;
    const int height = main.height() * 9 / 10;
    resize(width, height);
    move(main.left() + (main.width() - width) / 2, main.top() + (main.height() - height) / 2);
}

void TfrmEdit::loadCopy()
{
    QScopedValueRollback loading(m_loading, true);
    QFile file(TempFilePath);
    if (file.open(QIODevice::ReadOnly)) {
        m_original = file.readAll();
        m_content = DecodeEditorText(m_original);
        if (file.error() != QFileDevice::NoError) {
            m_content = EditorContent{QString(), LineEnd::Lf, false, QString()};
            m_content.warning = QStringLiteral("The copy \"%1\" could not be read: %2")
                                    .arg(TempFilePath, file.errorString());
        }
    } else {
        m_original.clear();
        m_content = EditorContent{QString(), LineEnd::Lf, false, QString()};
        m_content.warning = QStringLiteral("The copy \"%1\" could not be opened: %2")
                                .arg(TempFilePath, file.errorString());
    }
    Editor->setPlainText(m_content.text);
    // The text control has its own ideas of some characters (paragraph and line separators);
    // what it would give back must be exactly what was read.
    if (m_content.editable && EncodeEditorText(editorText(), m_content.lineEnd) != m_original) {
        m_content.editable = false;
        m_content.warning = NotExactWarning();
    }
    Editor->setReadOnly(!m_content.editable);
    mnuSaveRemote->setEnabled(m_content.editable);
}

QString TfrmEdit::editorText() const
{
    QString text = Editor->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

QByteArray TfrmEdit::textBytes() const
{
    if (!m_content.editable)
        return m_original;
    return EncodeEditorText(editorText(), m_content.lineEnd);
}

void TfrmEdit::warn(const QString& text)
{
    m_prompter.messageBeep(MB_ICONEXCLAMATION);
    m_prompter.message(kEditorTitle, text, MessageIcon::Warning);
}

bool TfrmEdit::mnuSaveRemoteClick()
{
    // A save pumps events while it runs; a second one (Ctrl+S held down) waits its turn.
    if (m_saving || !m_content.editable || !m_main || OperationRunning())
        return false;
    QScopedValueRollback saving(m_saving, true);
    OperationLock operation;
    // Keys typed while the text is on its way would be marked saved without being so.
    CommandLockout lockout(this);
    MainTransferHost host(*m_main);
    const QByteArray bytes = textBytes();
    RemoteSave saved = RemoteSave::Failed;
    try {
        BusyCursor cursor(host);
        host.progress().SetProgressPosition(0);
        host.progress().ShowProgress(QStringLiteral("Saving \"%1\"").arg(TempFilePath),
                                     QStringLiteral("Saving"), true, true);
        CancelRequested = false;
        saved = StoreOnServer(host, TempFilePath, RemoteFileName, bytes, RemoteFileVersion);
        host.progress().CloseProgress();
    } catch (const FileSystemError& error) {
        host.progress().CloseProgress();
        host.showFileError(error.text());
        return false;
    }
    // Only a text that reached the server counts as saved; otherwise closing still asks.
    if (saved == RemoteSave::Stored) {
        EditorChanged = false;
        SavedRemote = true;
    }
    return saved == RemoteSave::Stored;
}

bool TfrmEdit::mnuSaveLocalClick()
{
    const QString start = m_main ? m_main->currentLocalFolder() : QString();
    const QString path = m_prompter.chooseSaveFile(QStringLiteral("Save Local"), start, QString());
    if (path.isEmpty())
        return false;
    try {
        WaitCursor hourglass;
        ReplaceLocalFile(path, textBytes());
    } catch (const FileSystemError& error) {
        m_prompter.message(QApplication::applicationName(), error.text(), MessageIcon::Error);
        return false;
    }
    EditorChanged = false;
    return true;
}

void TfrmEdit::mnuCloseClick()
{
    close();
}

void TfrmEdit::EditorKeyPress(QKeyEvent* event)
{
    if (!m_content.editable || event->text().isEmpty())
        return;
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Escape)
        return;
    EditorChanged = true;
}

void TfrmEdit::textChanged(int, int removed, int added)
{
    if (!m_loading && (removed > 0 || added > 0))
        EditorChanged = true;
}

bool TfrmEdit::FormCloseQuery()
{
    if (!EditorChanged)
        return true;
    m_prompter.messageBeep(MB_ICONQUESTION);
    switch (m_prompter.askYesNoCancel(
        kEditorTitle, QStringLiteral("This file has been changed. Do you want to save it?"))) {
    case PromptAnswer::Yes:
        // A save that did not reach the server keeps the window open with the text, so the
        // edits are not lost with it; its failure has been shown.
        return mnuSaveRemoteClick();
    case PromptAnswer::No:
        return true;
    case PromptAnswer::Cancel:
        break;
    }
    return false;
}

void TfrmEdit::closeEvent(QCloseEvent* event)
{
    if (m_saving || m_showing || !FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmEdit::keyPressEvent(QKeyEvent* event)
{
    // Escape would end the dialog without the closing question; the window closes through
    // Close, the close box or Alt+F4 only.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TfrmEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Editor && event->type() == QEvent::KeyPress)
        EditorKeyPress(static_cast<QKeyEvent*>(event));
    return QDialog::eventFilter(watched, event);
}
