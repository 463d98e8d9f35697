#pragma once
#include "common/Prompter.h"

#include <QPointer>
#include <QWidget>

// The real prompts: Qt message boxes, input dialog and file dialogs, over the active window.
class QtPrompter final : public Prompter
{
public:
    explicit QtPrompter(QWidget* fallbackParent = nullptr) : m_fallbackParent(fallbackParent) {}

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

    // The width a window needs for its title bar to show `title` whole: the text and what the
    // window manager puts beside it (the window icon, up to three buttons, margins).
    static int titleBarWidth(const QString& title);
    static constexpr int kTitleBarExtras = 120;

private:
    QWidget* parentWidget() const;

    QPointer<QWidget> m_fallbackParent;
};
