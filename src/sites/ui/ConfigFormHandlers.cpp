#include "sites/ui/ConfigForm.h"

#include "common/Prompter.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>

namespace {

const QString kWarningCaption = QStringLiteral("Warning");
const QString kInformationCaption = QStringLiteral("Information");

// Keys that never reach an edit box as a typed character: the dialog and the cursor keys
// handle them, so the Port filter lets them through untouched.
bool isNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Insert:
        return true;
    default:
        return false;
    }
}

// The character a key press types, or 0 when it types none. Alt and Ctrl combinations are
// accelerators and editing shortcuts (select all, copy, undo), not typing.
char16_t typedCharacter(const QKeyEvent& event)
{
    if (isNavigationKey(event.key()) ||
        (event.modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)))
        return 0;
    if (event.key() == Qt::Key_Backspace)
        return u'\b';
    const QString text = event.text();
    return text.isEmpty() ? char16_t(0) : text.at(0).unicode();
}

// The length the field's text would have with `inserted` in place of its selection.
qsizetype lengthAfterInsert(const QLineEdit* field, qsizetype inserted)
{
    return field->text().size() - field->selectedText().size() + inserted;
}

} // namespace

void TfrmConfig::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TfrmConfig::FormShow()
{
    if (QWidget* mainWindow = parentWidget())
        move(ConfigLogic::CentredOrigin(mainWindow->frameGeometry(), frameGeometry().size()));
    Tabs->setCurrentWidget(TabSheet1);
    const QString rememberedSite = readOptions();
    ListSiteNames();
    LoadSiteProfile(rememberedSite);
    if (!rememberedSite.isEmpty())
        cboSiteName->setCurrentIndex(findSiteName(rememberedSite));
    SiteChanged = false;
}

void TfrmConfig::cboSiteNameClick(int index)
{
    if (index >= 0)
        LoadSiteProfile(cboSiteName->itemText(index));
}

void TfrmConfig::btnNewClick()
{
    cboSiteName->setCurrentIndex(-1);
    LoadSiteProfile(QString());
}

void TfrmConfig::btnSaveClick()
{
    if (ConfigLogic::TrimBlanksAndControls(txtSiteName->text()).isEmpty()) {
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(kWarningCaption, QString::fromLatin1(ConfigLogic::kNoSiteNameText),
                           MessageIcon::Warning);
        return;
    }
    if (SaveSiteProfile() != ProfileSaveResult::Written)
        return;
    // The list shows the site just saved: left blank, it looked as if the site were lost.
    cboSiteName->setCurrentIndex(findSiteName(txtSiteName->text()));
    m_prompter.messageBeep(MB_ICONASTERISK);
    m_prompter.message(kInformationCaption, QString::fromLatin1(ConfigLogic::kSavedText),
                       MessageIcon::Information);
}

void TfrmConfig::btnDeleteClick()
{
    const QString name = siteListText();
    if (ConfigLogic::TrimBlanksAndControls(name).isEmpty()) {
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(kWarningCaption, QString::fromLatin1(ConfigLogic::kNoSiteToDeleteText),
                           MessageIcon::Warning);
        return;
    }
    DeleteSiteProfile(name);
}

bool TfrmConfig::txtPortKeyPress(char16_t key)
{
    if (ConfigLogic::IsPortCharAccepted(key))
        return true;
    m_prompter.messageBeep(MB_OK);
    return false;
}

// A digit that would not fit, or a paste that is not a whole port number, is refused with a
// beep: the field's own limit would keep the first digits and drop the rest, and so turn
// "50001" typed after "21" into port 21500 without a word.
bool TfrmConfig::txtPortInsertAccepted(const QString& inserted)
{
    bool digits = !inserted.isEmpty();
    for (const QChar ch : inserted)
        digits = digits && ConfigLogic::IsPortCharAccepted(ch.unicode()) && ch != u'\b';
    const qsizetype before = txtPort->text().size();
    if (digits && ConfigLogic::TypingWithinLimit(
                      before, lengthAfterInsert(txtPort, inserted.size()), ConfigLogic::kPortLimit))
        return true;
    m_prompter.messageBeep(MB_OK);
    return false;
}

bool TfrmConfig::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtPort && event->type() == QEvent::FocusIn) {
        // Whatever brought the focus here (Tab, a click, the label's Alt+P), what is typed
        // next replaces the whole number; run after the click has placed the cursor.
        QTimer::singleShot(0, txtPort, [field = txtPort] { field->selectAll(); });
    } else if (watched == txtPort && event->type() == QEvent::KeyPress) {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (keyEvent->matches(QKeySequence::Paste)) {
            const QString pasted = QGuiApplication::clipboard()->text().trimmed();
            if (txtPortInsertAccepted(pasted))
                txtPort->insert(pasted);
            return true;
        }
        const char16_t key = typedCharacter(*keyEvent);
        if (key != 0 && !txtPortKeyPress(key))
            return true;
        if (key != 0 && key != u'\b' && !txtPortInsertAccepted(QString(QChar(key))))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmConfig::txtFieldChange()
{
    SiteChanged = true;
}

void TfrmConfig::cboProtocolChange()
{
    const QString protocol = cboProtocol->currentData().toString();
    const QString ownPort = protocol == QLatin1String(kProtocolSftp)   ? QStringLiteral("22")
                            : protocol == QLatin1String(kProtocolFtps) ? QStringLiteral("990")
                                                                       : QStringLiteral("21");
    // Another protocol's default port follows the choice; a port the user typed stays.
    const QString port = txtPort->text().trimmed();
    if (port.isEmpty() || port == QLatin1String("21") || port == QLatin1String("22") ||
        port == QLatin1String("990"))
        txtPort->setText(ownPort);
    // Implicit TLS is always encrypted and SFTP is SSH: the choice is plain FTP's alone.
    cboEncryption->setEnabled(protocol.isEmpty());
    SiteChanged = true;
}

void TfrmConfig::btnBrowseDefaultClick()
{
    const QString folder = m_prompter.chooseFolder(QString::fromLatin1(ConfigLogic::kPickerCaption),
                                                   txtDefaultPath->text());
    if (!folder.isEmpty())
        txtDefaultPath->setText(folder);
}

void TfrmConfig::btnOKClick()
{
    if (writeOptions())
        done(QDialog::Accepted);
}

void TfrmConfig::btnCancelClick()
{
    done(QDialog::Rejected);
}

void TfrmConfig::done(int result)
{
    if (!FormCloseQuery())
        return;
    QDialog::done(result);
}

bool TfrmConfig::FormCloseQuery()
{
    return ConfigLogic::CloseQuery(SiteChanged, m_prompter, [this] { return SaveSiteProfile(); });
}

void TfrmConfig::TabsChange(int /*index*/) {}

QString TfrmConfig::siteListText() const
{
    return cboSiteName->currentIndex() < 0 ? QString() : cboSiteName->currentText();
}

int TfrmConfig::findSiteName(const QString& name) const
{
    for (int i = 0; i < cboSiteName->count(); ++i) {
        if (cboSiteName->itemText(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}
