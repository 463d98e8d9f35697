#pragma once
#include "common/Prompter.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

// A prompter for a worker thread: every question goes to the prompter of the window's thread
// and the worker waits for the answer, so no box is ever made off the window's thread. Once
// `stopping` is set (the program ends), a question that waits is answered as a prompter that
// cannot ask answers it, so the window never waits for a worker that waits for the window.
class PrompterOnThread final : public Prompter
{
public:
    // `context`: an object of the window's thread that outlives every worker using this.
    PrompterOnThread(Prompter& target, QObject* context, const std::atomic<bool>& stopping)
        : m_target(target), m_context(context), m_stopping(stopping)
    {}

    void messageBeep(unsigned int type) override;
    void message(const QString& caption, const QString& text, MessageIcon icon,
                 const QString& detail = {}) override;
    bool askYesNo(const QString& caption, const QString& text, MessageIcon icon) override;
    PromptAnswer askYesNoCancel(const QString& caption, const QString& text,
                                MessageIcon icon) override;
    std::optional<QString> inputBox(const QString& caption, const QString& prompt,
                                    const QString& initialText) override;
    QString chooseFolder(const QString&, const QString&) override { return {}; }
    QString chooseOpenFile(const QString&, const QString&, const QString&) override { return {}; }
    QString chooseSaveFile(const QString&, const QString&, const QString&) override { return {}; }
    std::optional<QString> inputPassword(const QString& caption, const QString& prompt) override;
    CertificateAnswer askCertificate(const QString& caption, const QString& text,
                                     bool changed) override;
    PlainFtpAnswer askPlainFtp(const QString& caption, const QString& text, bool loud) override;

private:
    // Runs `ask` on the window's thread and returns what it gave; `fallback` when the program
    // ends first.
    template <typename Answer>
    Answer onWindow(std::function<Answer(Prompter&)> ask, Answer fallback);

    Prompter& m_target;
    QObject* m_context;
    const std::atomic<bool>& m_stopping;
};
