#include "ftp/FtpErrorText.h"

QString FtpErrorText(const QString& headline, quint32 code, const QString& about,
                     const QString& lastReply)
{
    QString text = headline + QStringLiteral("  (") + QString::number(static_cast<qint32>(code)) +
                   QLatin1Char(')');
    if (!about.trimmed().isEmpty())
        text += QLatin1Char('\n') + about.trimmed();
    const QString reply = lastReply.trimmed();
    if (FtpErrorHasServerReply(code) && !reply.isEmpty())
        text += QStringLiteral("\nThe server's reply: ") + reply;
    return text;
}

QString FtpErrorDetail(quint32 code, const QString& lastReply)
{
    QString detail = FtpErrorMeaning(code);
    const QString reply = lastReply.trimmed();
    if (reply.isEmpty())
        return detail;
    const FtpReplyKind kind = FtpErrorReply(code);
    if (kind == FtpReplyKind::Server)
        detail += QStringLiteral("\nThe server's reply: ") + reply;
    else if (kind == FtpReplyKind::Explanation)
        detail += QLatin1Char('\n') + reply; // a server's refusal or a sentence of its own
    return detail;
}
