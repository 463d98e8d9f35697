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

QString SshErrorText(const QString& headline, const RemoteResult& result, const QString& about)
{
    QString text = headline.startsWith(QLatin1String("FTP ")) ? headline.mid(4) : headline;
    if (!about.trimmed().isEmpty())
        text += QLatin1Char('\n') + about.trimmed();
    if (!result.reply.trimmed().isEmpty())
        text += QLatin1Char('\n') + result.reply.trimmed();
    return text;
}

QString SshErrorDetail(const RemoteResult& result)
{
    QString detail;
    switch (result.failure) {
    case RemoteFailure::None:
        return QStringLiteral("No reason was given for the failure.");
    case RemoteFailure::Refused:
        detail = QStringLiteral("The server refused the request.");
        break;
    case RemoteFailure::Unsupported:
        detail = QStringLiteral("The server cannot do that.");
        break;
    case RemoteFailure::Cancelled:
        detail = QStringLiteral("It was cancelled.");
        break;
    case RemoteFailure::ConnectionLost:
        detail = QStringLiteral("The connection to the server has been lost.");
        break;
    case RemoteFailure::Security:
        detail = QStringLiteral("The server's host key was not accepted, so nothing was sent.");
        break;
    case RemoteFailure::Other:
        detail = QStringLiteral("The connection could not be made or used.");
        break;
    }
    if (result.replyCode != 0)
        detail += QStringLiteral("\nSFTP status %1.").arg(result.replyCode);
    return detail;
}
