#include "sites/ConfigLogic.h"

#include "common/Prompter.h"

namespace ConfigLogic {

namespace {

bool isBlankOrControl(QChar ch)
{
    return ch.unicode() <= u' ';
}

} // namespace

QString TrimBlanksAndControls(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlankOrControl(text.at(first)))
        ++first;
    while (last > first && isBlankOrControl(text.at(last - 1)))
        --last;
    return text.mid(first, last - first);
}

bool IsPortCharAccepted(char16_t ch)
{
    return (ch >= u'0' && ch <= u'9') || ch == u'\b';
}

bool TypingWithinLimit(qsizetype oldLength, qsizetype newLength, int limit)
{
    return newLength <= limit || newLength <= oldLength;
}

QPoint CentredOrigin(const QRect& mainFrame, const QSize& ownSize)
{
    // Integer division truncates toward zero, as the offset rule asks.
    const int left = mainFrame.left() + (mainFrame.width() - ownSize.width()) / 2;
    const int top = mainFrame.top() + (mainFrame.height() - ownSize.height()) / 2;
    return {left, top};
}

QString EffectiveDefaultPath(const QString& fieldText, const QString& executableFolder)
{
    if (TrimBlanksAndControls(fieldText).isEmpty())
        return executableFolder;
    return fieldText;
}

bool CloseQuery(bool siteChanged, Prompter& prompter,
                const std::function<ProfileSaveResult()>& saveSiteProfile)
{
    if (!siteChanged)
        return true;
    prompter.messageBeep(MB_ICONQUESTION);
    if (!prompter.askYesNo(QStringLiteral("Confirm"), QString::fromLatin1(kCloseQuestionText),
                           MessageIcon::Question))
        return true;
    const ProfileSaveResult outcome = saveSiteProfile();
    return outcome == ProfileSaveResult::Written || outcome == ProfileSaveResult::Declined;
}

} // namespace ConfigLogic
