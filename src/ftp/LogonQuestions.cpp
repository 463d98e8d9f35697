#include "ftp/LogonQuestions.h"

#include "common/ProgressSink.h"
#include "ftp/RemoteHost.h"

LogonQuestions::LogonQuestions(RemoteHost& host) : m_host(host), m_target(host.prompter()) {}

template <typename Ask> auto LogonQuestions::aside(Ask ask)
{
    m_host.progress().CloseProgress();
    m_host.setCursor(RemoteHost::Cursor::Default);
    auto answer = ask(m_target);
    m_host.setCursor(RemoteHost::Cursor::Hourglass);
    m_host.progress().ShowProgress(QStringLiteral("Authenticating account and logging on"),
                                   QStringLiteral("Authenticating"), false, false);
    return answer;
}

void LogonQuestions::messageBeep(unsigned int type)
{
    m_target.messageBeep(type);
}

void LogonQuestions::message(const QString& caption, const QString& text, MessageIcon icon,
                             const QString& detail)
{
    aside([&](Prompter& to) {
        to.message(caption, text, icon, detail);
        return true;
    });
}

bool LogonQuestions::askYesNo(const QString& caption, const QString& text, MessageIcon icon)
{
    return aside([&](Prompter& to) { return to.askYesNo(caption, text, icon); });
}

bool LogonQuestions::askYesNoDefaultNo(const QString& caption, const QString& text)
{
    return aside([&](Prompter& to) { return to.askYesNoDefaultNo(caption, text); });
}

PromptAnswer LogonQuestions::askYesNoCancel(const QString& caption, const QString& text,
                                            MessageIcon icon)
{
    return aside([&](Prompter& to) { return to.askYesNoCancel(caption, text, icon); });
}

std::optional<QString> LogonQuestions::inputBox(const QString& caption, const QString& prompt,
                                                const QString& initialText)
{
    return aside([&](Prompter& to) { return to.inputBox(caption, prompt, initialText); });
}

QString LogonQuestions::chooseFolder(const QString& caption, const QString& startFolder)
{
    return aside([&](Prompter& to) { return to.chooseFolder(caption, startFolder); });
}

QString LogonQuestions::chooseOpenFile(const QString& caption, const QString& startPath,
                                       const QString& filter)
{
    return aside([&](Prompter& to) { return to.chooseOpenFile(caption, startPath, filter); });
}

QString LogonQuestions::chooseSaveFile(const QString& caption, const QString& startPath,
                                       const QString& filter)
{
    return aside([&](Prompter& to) { return to.chooseSaveFile(caption, startPath, filter); });
}

PromptAnswer LogonQuestions::askChoice(const QString& caption, const QString& text,
                                       const QString& yesText, const QString& noText)
{
    return aside([&](Prompter& to) { return to.askChoice(caption, text, yesText, noText); });
}

std::optional<QString> LogonQuestions::inputPassword(const QString& caption, const QString& prompt)
{
    return aside([&](Prompter& to) { return to.inputPassword(caption, prompt); });
}

CertificateAnswer LogonQuestions::askCertificate(const QString& caption, const QString& text,
                                                 bool changed)
{
    return aside([&](Prompter& to) { return to.askCertificate(caption, text, changed); });
}

PlainFtpAnswer LogonQuestions::askPlainFtp(const QString& caption, const QString& text, bool loud)
{
    return aside([&](Prompter& to) { return to.askPlainFtp(caption, text, loud); });
}

ExistsAnswer LogonQuestions::askExists(const QString& caption, const QString& text, bool canResume)
{
    return aside([&](Prompter& to) { return to.askExists(caption, text, canResume); });
}
