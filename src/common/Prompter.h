#pragma once
#include <QString>

#include <optional>

// MessageBeep kinds, with their Win32 values.
inline constexpr unsigned int MB_OK = 0x00;
inline constexpr unsigned int MB_ICONHAND = 0x10;
inline constexpr unsigned int MB_ICONQUESTION = 0x20;
inline constexpr unsigned int MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned int MB_ICONASTERISK = 0x40;

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class PromptAnswer { Yes, No, Cancel };
enum class PromptKind {
    Beep,
    Message,
    YesNo,
    YesNoCancel,
    Input,
    Folder,
    OpenFile,
    SaveFile,
    Certificate,
    Password,
    Choice,
    PlainFtp,
    Exists
};
// What to do with a file whose name the destination of a transfer already holds.
enum class ExistsAction { Overwrite, OverwriteIfNewer, Resume, Rename, Skip, Cancel };
struct ExistsAnswer
{
    ExistsAction action = ExistsAction::Cancel;
    bool applyToRest = false; // the same answer for every later such file of this transfer
};
// What the user says to a server certificate that no trusted authority vouches for.
enum class CertificateAnswer { Refuse, TrustOnce, TrustAlways };
// What the user says to a server that offers no encryption to a site meant to use it.
enum class PlainFtpAnswer { Cancel, ConnectOnce, AllowAlways };

// Every modal box, input box, picker and beep of the program goes through one Prompter,
// so that tests can answer them from a script instead of blocking on a window.
class Prompter
{
public:
    virtual ~Prompter() = default;

    virtual void messageBeep(unsigned int type) = 0;
    // A box with one OK button. `detail` is extra text the user may unfold (a server reply).
    virtual void message(const QString& caption, const QString& text, MessageIcon icon,
                         const QString& detail = {}) = 0;
    virtual bool askYesNo(const QString& caption, const QString& text,
                          MessageIcon icon = MessageIcon::Question) = 0;
    // As askYesNo, but the box's default answer (Enter) is No: for questions whose Yes
    // destroys more than the user may have looked at, such as a whole folder tree.
    virtual bool askYesNoDefaultNo(const QString& caption, const QString& text)
    {
        return askYesNo(caption, text, MessageIcon::Question);
    }
    virtual PromptAnswer askYesNoCancel(const QString& caption, const QString& text,
                                        MessageIcon icon = MessageIcon::Question) = 0;
    // Empty optional when the user cancelled.
    virtual std::optional<QString> inputBox(const QString& caption, const QString& prompt,
                                            const QString& initialText) = 0;
    // The chosen path, or an empty text when the user cancelled.
    virtual QString chooseFolder(const QString& caption, const QString& startFolder) = 0;
    virtual QString chooseOpenFile(const QString& caption, const QString& startPath,
                                   const QString& filter) = 0;
    virtual QString chooseSaveFile(const QString& caption, const QString& startPath,
                                   const QString& filter) = 0;
    // A question with two named answers and Cancel: Yes stands for `yesText`, No for `noText`.
    // A prompter without such a box asks Yes / No / Cancel.
    virtual PromptAnswer askChoice(const QString& caption, const QString& text,
                                   const QString& yesText, const QString& noText)
    {
        (void)yesText;
        (void)noText;
        return askYesNoCancel(caption, text);
    }
    // An input box whose text shows as stars and is never kept: a password the program may
    // not store. Empty optional when the user cancelled; a prompter that cannot ask cancels.
    virtual std::optional<QString> inputPassword(const QString& caption, const QString& prompt)
    {
        (void)caption;
        (void)prompt;
        return std::nullopt;
    }
    // "The target file already exists": Overwrite, Overwrite if the source is newer, Resume
    // (offered only when `canResume`), Rename, Skip, and a check box to apply the choice to
    // the rest of the transfer; Cancel stops the transfer. A prompter that cannot ask cancels,
    // so nothing is replaced without the user's word.
    virtual ExistsAnswer askExists(const QString& caption, const QString& text, bool canResume)
    {
        (void)caption;
        (void)text;
        (void)canResume;
        return {};
    }
    // Shows a server certificate (`text` says why it is not trusted and what it is) with the
    // choices to trust it once, always, or not at all. `changed`: a certificate the user
    // trusted before was replaced, the sign of an attack, so the box is a loud warning whose
    // default is not to connect. A prompter that cannot ask refuses.
    virtual CertificateAnswer askCertificate(const QString& caption, const QString& text,
                                             bool changed)
    {
        (void)caption;
        (void)text;
        (void)changed;
        return CertificateAnswer::Refuse;
    }
    // Warns that the server offers no encryption, so the password and files would cross the
    // network readable by anyone on the way, with the choices to connect in plain FTP this
    // once, to allow plain FTP always for the site, or not to connect (the default). `loud`:
    // the server has shown a certificate the user trusts always, so the refusal is the sign of
    // an attack; the box is a warning and offers no "always". A prompter that cannot ask
    // does not connect.
    virtual PlainFtpAnswer askPlainFtp(const QString& caption, const QString& text, bool loud)
    {
        (void)caption;
        (void)text;
        (void)loud;
        return PlainFtpAnswer::Cancel;
    }
};
