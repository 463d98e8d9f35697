#include "ScriptedPrompter.h"

#include <QTest>

QString promptKindName(PromptKind kind)
{
    switch (kind) {
    case PromptKind::Beep:
        return QStringLiteral("beep");
    case PromptKind::Message:
        return QStringLiteral("message");
    case PromptKind::YesNo:
        return QStringLiteral("yes/no question");
    case PromptKind::YesNoCancel:
        return QStringLiteral("yes/no/cancel question");
    case PromptKind::Input:
        return QStringLiteral("input box");
    case PromptKind::Folder:
        return QStringLiteral("folder picker");
    case PromptKind::OpenFile:
        return QStringLiteral("open-file picker");
    case PromptKind::SaveFile:
        return QStringLiteral("save-file picker");
    case PromptKind::Certificate:
        return QStringLiteral("certificate box");
    case PromptKind::Password:
        return QStringLiteral("password box");
    case PromptKind::Choice:
        return QStringLiteral("choice box");
    case PromptKind::PlainFtp:
        return QStringLiteral("plain FTP question");
    case PromptKind::Exists:
        return QStringLiteral("file-exists question");
    }
    return QStringLiteral("?");
}

ScriptedPrompter::~ScriptedPrompter() = default;

ScriptedPrompter& ScriptedPrompter::expectBeep(unsigned int type)
{
    m_steps.append({PromptKind::Beep, {}, type, PromptAnswer::Cancel, std::nullopt});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectMessage(const QString& text)
{
    m_steps.append({PromptKind::Message, text, 0, PromptAnswer::Cancel, std::nullopt});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectMessageStartingWith(const QString& prefix)
{
    m_steps.append({PromptKind::Message, prefix, 0, PromptAnswer::Cancel, std::nullopt, true});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectYesNo(const QString& text, bool yes)
{
    m_steps.append(
        {PromptKind::YesNo, text, 0, yes ? PromptAnswer::Yes : PromptAnswer::No, std::nullopt});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectYesNoStartingWith(const QString& prefix, bool yes)
{
    m_steps.append({PromptKind::YesNo, prefix, 0, yes ? PromptAnswer::Yes : PromptAnswer::No,
                    std::nullopt, true});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectYesNoCancel(const QString& text, PromptAnswer answer)
{
    m_steps.append({PromptKind::YesNoCancel, text, 0, answer, std::nullopt});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectInput(const QString& prompt, std::optional<QString> reply)
{
    m_steps.append({PromptKind::Input, prompt, 0, PromptAnswer::Cancel, std::move(reply)});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectChoice(const QString& text, PromptAnswer answer)
{
    m_steps.append({PromptKind::Choice, text, 0, answer, std::nullopt});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectExists(const QString& textStart, bool canResume,
                                                 ExistsAnswer answer)
{
    Step step{PromptKind::Exists, textStart, 0, PromptAnswer::Cancel, std::nullopt, true};
    step.exists = answer;
    step.canResume = canResume;
    m_steps.append(step);
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectPassword(const QString& promptStart,
                                                   std::optional<QString> reply)
{
    m_steps.append(
        {PromptKind::Password, promptStart, 0, PromptAnswer::Cancel, std::move(reply), true});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectFolder(const QString& caption, const QString& reply)
{
    m_steps.append({PromptKind::Folder, caption, 0, PromptAnswer::Cancel, reply});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectOpenFile(const QString& caption, const QString& reply)
{
    m_steps.append({PromptKind::OpenFile, caption, 0, PromptAnswer::Cancel, reply});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectSaveFile(const QString& caption, const QString& reply)
{
    m_steps.append({PromptKind::SaveFile, caption, 0, PromptAnswer::Cancel, reply});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectCertificate(bool changed, CertificateAnswer answer)
{
    m_steps.append({PromptKind::Certificate,
                    {},
                    0,
                    PromptAnswer::Cancel,
                    std::nullopt,
                    false,
                    answer,
                    changed});
    return *this;
}

ScriptedPrompter& ScriptedPrompter::expectPlainFtp(bool loud, PlainFtpAnswer answer)
{
    Step step{PromptKind::PlainFtp, {}, 0, PromptAnswer::Cancel, std::nullopt};
    step.changed = loud;
    step.plain = answer;
    m_steps.append(step);
    return *this;
}

bool ScriptedPrompter::verifyDone()
{
    for (const Step& step : std::as_const(m_steps))
        m_failures.append(QStringLiteral("expected %1 \"%2\" never came")
                              .arg(promptKindName(step.kind), step.text));
    m_steps.clear();
    if (m_failures.isEmpty())
        return true;
    const QString all = m_failures.join(QLatin1Char('\n'));
    m_failures.clear();
    QTest::qFail(qPrintable(all), __FILE__, __LINE__);
    return false;
}

void ScriptedPrompter::reset()
{
    m_steps.clear();
    m_seen.clear();
    m_failures.clear();
    m_ignoreBeeps = false;
}

std::optional<ScriptedPrompter::Step> ScriptedPrompter::take(PromptKind kind, const QString& text)
{
    if (kind != PromptKind::Beep && m_whileAsking)
        m_whileAsking(kind);
    if (m_steps.isEmpty()) {
        m_failures.append(QStringLiteral("unexpected %1 \"%2\"").arg(promptKindName(kind), text));
        return std::nullopt;
    }
    Step step = m_steps.takeFirst();
    const bool textMatches = step.prefixOnly ? text.startsWith(step.text) : step.text == text;
    const bool textCompared =
        kind != PromptKind::Beep && kind != PromptKind::Certificate && kind != PromptKind::PlainFtp;
    if (step.kind != kind || (textCompared && !textMatches)) {
        m_failures.append(
            QStringLiteral("expected %1 \"%2\" but got %3 \"%4\"")
                .arg(promptKindName(step.kind), step.text, promptKindName(kind), text));
        return std::nullopt;
    }
    return step;
}

void ScriptedPrompter::messageBeep(unsigned int type)
{
    m_seen.append({PromptKind::Beep, {}, {}, {}, type, MessageIcon::None});
    if (m_ignoreBeeps)
        return;
    if (auto step = take(PromptKind::Beep, {}); step && step->beep != type)
        m_failures.append(QStringLiteral("expected beep 0x%1 but got 0x%2")
                              .arg(step->beep, 0, 16)
                              .arg(type, 0, 16));
}

void ScriptedPrompter::message(const QString& caption, const QString& text, MessageIcon icon,
                               const QString& detail)
{
    m_seen.append({PromptKind::Message, caption, text, detail, 0, icon});
    take(PromptKind::Message, text);
}

bool ScriptedPrompter::askYesNo(const QString& caption, const QString& text, MessageIcon icon)
{
    m_seen.append({PromptKind::YesNo, caption, text, {}, 0, icon});
    auto step = take(PromptKind::YesNo, text);
    return step && step->answer == PromptAnswer::Yes;
}

bool ScriptedPrompter::askYesNoDefaultNo(const QString& caption, const QString& text)
{
    m_seen.append({PromptKind::YesNo, caption, text, {}, 0, MessageIcon::Question, true});
    auto step = take(PromptKind::YesNo, text);
    return step && step->answer == PromptAnswer::Yes;
}

PromptAnswer ScriptedPrompter::askYesNoCancel(const QString& caption, const QString& text,
                                              MessageIcon icon)
{
    m_seen.append({PromptKind::YesNoCancel, caption, text, {}, 0, icon});
    auto step = take(PromptKind::YesNoCancel, text);
    return step ? step->answer : PromptAnswer::Cancel;
}

std::optional<QString> ScriptedPrompter::inputBox(const QString& caption, const QString& prompt,
                                                  const QString& initialText)
{
    // The text the box starts with is kept as the detail, for tests of what it proposes.
    m_seen.append({PromptKind::Input, caption, prompt, initialText, 0, MessageIcon::None});
    auto step = take(PromptKind::Input, prompt);
    return step ? step->reply : std::nullopt;
}

PromptAnswer ScriptedPrompter::askChoice(const QString& caption, const QString& text,
                                         const QString& yesText, const QString& noText)
{
    m_seen.append({PromptKind::Choice, caption, text, yesText + QLatin1Char('/') + noText, 0,
                   MessageIcon::Question});
    auto step = take(PromptKind::Choice, text);
    return step ? step->answer : PromptAnswer::Cancel;
}

ExistsAnswer ScriptedPrompter::askExists(const QString& caption, const QString& text,
                                         bool canResume)
{
    m_seen.append({PromptKind::Exists, caption, text,
                   canResume ? QStringLiteral("resume") : QString(), 0, MessageIcon::Question});
    auto step = take(PromptKind::Exists, text);
    if (!step)
        return {};
    if (step->canResume != canResume)
        m_failures.append(QStringLiteral("file-exists question \"%1\": Resume %2 offered")
                              .arg(text, canResume ? QString() : QStringLiteral("not")));
    return step->exists;
}

std::optional<QString> ScriptedPrompter::inputPassword(const QString& caption,
                                                       const QString& prompt)
{
    m_seen.append({PromptKind::Password, caption, prompt, {}, 0, MessageIcon::None});
    auto step = take(PromptKind::Password, prompt);
    return step ? step->reply : std::nullopt;
}

QString ScriptedPrompter::chooseFolder(const QString& caption, const QString& /*startFolder*/)
{
    m_seen.append({PromptKind::Folder, caption, caption, {}, 0, MessageIcon::None});
    auto step = take(PromptKind::Folder, caption);
    return step ? step->reply.value_or(QString()) : QString();
}

QString ScriptedPrompter::chooseOpenFile(const QString& caption, const QString& /*startPath*/,
                                         const QString& /*filter*/)
{
    m_seen.append({PromptKind::OpenFile, caption, caption, {}, 0, MessageIcon::None});
    auto step = take(PromptKind::OpenFile, caption);
    return step ? step->reply.value_or(QString()) : QString();
}

QString ScriptedPrompter::chooseSaveFile(const QString& caption, const QString& /*startPath*/,
                                         const QString& /*filter*/)
{
    m_seen.append({PromptKind::SaveFile, caption, caption, {}, 0, MessageIcon::None});
    auto step = take(PromptKind::SaveFile, caption);
    return step ? step->reply.value_or(QString()) : QString();
}

CertificateAnswer ScriptedPrompter::askCertificate(const QString& caption, const QString& text,
                                                   bool changed)
{
    m_seen.append({PromptKind::Certificate,
                   caption,
                   text,
                   {},
                   0,
                   changed ? MessageIcon::Warning : MessageIcon::Question});
    auto step = take(PromptKind::Certificate, text);
    if (!step)
        return CertificateAnswer::Refuse;
    if (step->changed != changed) {
        m_failures.append(QStringLiteral("certificate box: changed %1 expected, %2 shown")
                              .arg(step->changed)
                              .arg(changed));
        return CertificateAnswer::Refuse;
    }
    return step->certificate;
}

PlainFtpAnswer ScriptedPrompter::askPlainFtp(const QString& caption, const QString& text, bool loud)
{
    m_seen.append({PromptKind::PlainFtp,
                   caption,
                   text,
                   {},
                   0,
                   loud ? MessageIcon::Warning : MessageIcon::Question});
    auto step = take(PromptKind::PlainFtp, text);
    if (!step)
        return PlainFtpAnswer::Cancel;
    if (step->changed != loud) {
        m_failures.append(QStringLiteral("plain FTP question: loud %1 expected, %2 shown")
                              .arg(step->changed)
                              .arg(loud));
        return PlainFtpAnswer::Cancel;
    }
    return step->plain;
}
