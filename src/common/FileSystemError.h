#pragma once
#include <QString>

#include <exception>

// The texts the user sees for a failed local file-system call: the four conditions users
// know by name get their short texts, anything else the system's own description.
QString ioErrorText(int errnoValue);

// A local file-system failure that ends the running command. The one wrapper around the
// command handlers catches it and shows `text()` in an error box; nothing else throws it.
class FileSystemError : public std::exception
{
public:
    explicit FileSystemError(int errnoValue);
    // The same failure told in the words of the command it ended (which file, what is left).
    FileSystemError(int errnoValue, QString text);

    int code() const { return m_code; }
    const QString& text() const { return m_text; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_code;
    QString m_text;
    QByteArray m_what;
};
