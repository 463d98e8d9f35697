#pragma once
#include "common/Prompter.h"

class RemoteHost;

// The prompter of a log-on in progress: the connect progress dialog and the hourglass step
// aside while a question shows, so a screen reader meets only the question and the dialog
// never covers it, and come back while the log-on goes on.
class LogonQuestions final : public Prompter
{
public:
    explicit LogonQuestions(RemoteHost& host);

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
    // Hides the dialog for the question `ask` puts, then shows the log-on's again.
    template <typename Ask> auto aside(Ask ask);

    RemoteHost& m_host;
    Prompter& m_target;
};
