#pragma once
#include "common/Prompter.h"

#include <QList>
#include <QString>

#include <functional>

// A Prompter that answers from a script. Every prompt must have been expected, in order,
// with its exact text; an unexpected prompt or an answer left unused fails the test.
class ScriptedPrompter final : public Prompter
{
public:
    struct Step
    {
        PromptKind kind;
        QString text;                 // the box text, input prompt or picker caption; beeps: empty
        unsigned int beep;            // beeps: the MessageBeep kind
        PromptAnswer answer;          // YesNo / YesNoCancel
        std::optional<QString> reply; // Input (nullopt = cancelled), pickers (path)
        bool prefixOnly = false;      // the text need only begin with `text`
        CertificateAnswer certificate = CertificateAnswer::Refuse;
        bool changed = false; // Certificate: the changed-certificate warning is expected
        PlainFtpAnswer plain = PlainFtpAnswer::Cancel; // PlainFtp
        ExistsAnswer exists{};
        bool canResume = false; // Exists: Resume is expected among the choices
    };
    struct Seen
    {
        PromptKind kind;
        QString caption;
        QString text;
        QString detail;
        unsigned int beep = 0;
        MessageIcon icon = MessageIcon::None;
        bool defaultNo = false; // YesNo: Enter answers No
    };

    ~ScriptedPrompter() override;

    ScriptedPrompter& expectBeep(unsigned int type);
    ScriptedPrompter& expectMessage(const QString& text);
    // A message whose text begins with `prefix` (an error code that varies with timing).
    ScriptedPrompter& expectMessageStartingWith(const QString& prefix);
    ScriptedPrompter& expectYesNo(const QString& text, bool yes);
    // A yes/no question whose text begins with `prefix` (the rest names the selection).
    ScriptedPrompter& expectYesNoStartingWith(const QString& prefix, bool yes);
    ScriptedPrompter& expectYesNoCancel(const QString& text, PromptAnswer answer);
    // A box with two named answers and Cancel (askChoice); `answer` Yes is the first name.
    ScriptedPrompter& expectChoice(const QString& text, PromptAnswer answer);
    ScriptedPrompter& expectInput(const QString& prompt, std::optional<QString> reply);
    // A password box whose prompt begins with `promptStart` (the prompt names a reason that
    // varies with the keyring).
    ScriptedPrompter& expectPassword(const QString& promptStart, std::optional<QString> reply);
    ScriptedPrompter& expectFolder(const QString& caption, const QString& reply);
    ScriptedPrompter& expectOpenFile(const QString& caption, const QString& reply);
    ScriptedPrompter& expectSaveFile(const QString& caption, const QString& reply);
    // A certificate box, new (`changed` false) or the changed-certificate warning; its text is
    // not compared but kept in seen() for the test to check.
    ScriptedPrompter& expectCertificate(bool changed, CertificateAnswer answer);
    // The question before plain FTP, ordinary or (`loud`) the warning for a server whose
    // certificate is trusted; its text is not compared but kept in seen().
    ScriptedPrompter& expectPlainFtp(bool loud, PlainFtpAnswer answer);
    // The question about a file whose name is taken, whose text begins with `textStart`
    // (the lines after it show sizes and times); `canResume`: Resume must be offered.
    ScriptedPrompter& expectExists(const QString& textStart, bool canResume, ExistsAnswer answer);

    // Called as each question (not a beep) is put, while it would show: tests look at the
    // windows behind it.
    void setWhileAsking(std::function<void(PromptKind)> hook) { m_whileAsking = std::move(hook); }

    // Ignore beeps altogether (for tests that are not about them).
    void setIgnoreBeeps(bool ignore) { m_ignoreBeeps = ignore; }

    // True when every expected step was used and nothing unexpected came; fails the
    // running test with a description otherwise. Call it at the end of each test.
    bool verifyDone();
    void reset();

    const QList<Seen>& seen() const { return m_seen; }
    int pending() const { return static_cast<int>(m_steps.size()); }

    void messageBeep(unsigned int type) override;
    void message(const QString& caption, const QString& text, MessageIcon icon,
                 const QString& detail) override;
    bool askYesNo(const QString& caption, const QString& text, MessageIcon icon) override;
    bool askYesNoDefaultNo(const QString& caption, const QString& text) override;
    PromptAnswer askYesNoCancel(const QString& caption, const QString& text,
                                MessageIcon icon) override;
    std::optional<QString> inputBox(const QString& caption, const QString& prompt,
                                    const QString& initialText) override;
    QString chooseFolder(const QString& caption, const QString& startFolder) override;
    QString chooseOpenFile(const QString& caption, const QString& startPath,
                           const QString& filter) override;
    QString chooseSaveFile(const QString& caption, const QString& startPath,
                           const QString& filter) override;
    PromptAnswer askChoice(const QString& caption, const QString& text, const QString& yesText,
                           const QString& noText) override;
    std::optional<QString> inputPassword(const QString& caption, const QString& prompt) override;
    CertificateAnswer askCertificate(const QString& caption, const QString& text,
                                     bool changed) override;
    PlainFtpAnswer askPlainFtp(const QString& caption, const QString& text, bool loud) override;
    ExistsAnswer askExists(const QString& caption, const QString& text, bool canResume) override;

private:
    // Takes the next step, checking it is of `kind` with `text`; nullopt when it is not.
    std::optional<Step> take(PromptKind kind, const QString& text);

    QList<Step> m_steps;
    QList<Seen> m_seen;
    QStringList m_failures;
    bool m_ignoreBeeps = false;
    std::function<void(PromptKind)> m_whileAsking;
};

QString promptKindName(PromptKind kind);
