#include "queue/PrompterOnThread.h"

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace {

// What one question shares between the worker and the window's thread: it lives as long as
// either side still holds it, so a question answered after the worker gave up is harmless.
template <typename Answer> struct Pending
{
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Answer> answer;
};

// How often a waiting worker looks whether the program ends.
constexpr auto kStopCheck = std::chrono::milliseconds(100);

} // namespace

template <typename Answer>
Answer PrompterOnThread::onWindow(std::function<Answer(Prompter&)> ask, Answer fallback)
{
    if (QThread::currentThread() == m_context->thread())
        return ask(m_target);
    auto pending = std::make_shared<Pending<Answer>>();
    Prompter* target = &m_target;
    QMetaObject::invokeMethod(
        m_context,
        [pending, target, ask = std::move(ask)] {
            Answer answer = ask(*target);
            const std::lock_guard lock(pending->mutex);
            pending->answer = std::move(answer);
            pending->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(pending->mutex);
    while (!pending->answer) {
        if (m_stopping.load())
            return fallback;
        pending->done.wait_for(lock, kStopCheck);
    }
    return *pending->answer;
}

void PrompterOnThread::messageBeep(unsigned int type)
{
    onWindow<bool>(
        [type](Prompter& target) {
            target.messageBeep(type);
            return true;
        },
        false);
}

void PrompterOnThread::message(const QString& caption, const QString& text, MessageIcon icon,
                               const QString& detail)
{
    onWindow<bool>(
        [=](Prompter& target) {
            target.message(caption, text, icon, detail);
            return true;
        },
        false);
}

bool PrompterOnThread::askYesNo(const QString& caption, const QString& text, MessageIcon icon)
{
    return onWindow<bool>([=](Prompter& target) { return target.askYesNo(caption, text, icon); },
                          false);
}

PromptAnswer PrompterOnThread::askYesNoCancel(const QString& caption, const QString& text,
                                              MessageIcon icon)
{
    return onWindow<PromptAnswer>(
        [=](Prompter& target) { return target.askYesNoCancel(caption, text, icon); },
        PromptAnswer::Cancel);
}

std::optional<QString> PrompterOnThread::inputBox(const QString& caption, const QString& prompt,
                                                  const QString& initialText)
{
    return onWindow<std::optional<QString>>(
        [=](Prompter& target) { return target.inputBox(caption, prompt, initialText); },
        std::nullopt);
}

std::optional<QString> PrompterOnThread::inputPassword(const QString& caption,
                                                       const QString& prompt)
{
    return onWindow<std::optional<QString>>(
        [=](Prompter& target) { return target.inputPassword(caption, prompt); }, std::nullopt);
}

CertificateAnswer PrompterOnThread::askCertificate(const QString& caption, const QString& text,
                                                   bool changed)
{
    return onWindow<CertificateAnswer>(
        [=](Prompter& target) { return target.askCertificate(caption, text, changed); },
        CertificateAnswer::Refuse);
}

PlainFtpAnswer PrompterOnThread::askPlainFtp(const QString& caption, const QString& text, bool loud)
{
    return onWindow<PlainFtpAnswer>(
        [=](Prompter& target) { return target.askPlainFtp(caption, text, loud); },
        PlainFtpAnswer::Cancel);
}
