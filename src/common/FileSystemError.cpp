#include "common/FileSystemError.h"

#include <cerrno>
#include <cstring>

QString ioErrorText(int errnoValue)
{
    switch (errnoValue) {
    case ENOENT:
        return QStringLiteral("File not found");
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
        return QStringLiteral("Invalid filename");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Too many open files");
    case EACCES:
    case EPERM:
        return QStringLiteral("File access denied");
    default:
        // strerror's text is the system's description; the C library keeps it in UTF-8 or
        // plain ASCII under every locale this program runs in.
        return QString::fromLocal8Bit(std::strerror(errnoValue));
    }
}

FileSystemError::FileSystemError(int errnoValue)
    : m_code(errnoValue), m_text(ioErrorText(errnoValue)), m_what(m_text.toUtf8())
{}

FileSystemError::FileSystemError(int errnoValue, QString text)
    : m_code(errnoValue), m_text(std::move(text)), m_what(m_text.toUtf8())
{}
