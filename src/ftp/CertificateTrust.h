#pragma once
#include <QString>

// The server certificates the user chose to trust always: one SHA-256 fingerprint per host and
// port, in a file of the data folder that only its owner may read or write.
class CertificateTrust
{
public:
    explicit CertificateTrust(QString filePath);
    // The data folder followed by "zulftp-certificates".
    static QString defaultFilePath();

    // The fingerprint trusted for the server, or the empty text. Empty too while the file is
    // unsafe (see unsafeReason).
    QString fingerprint(const QString& host, quint16 port) const;
    // Trusts `fingerprint` for the server from now on, in place of any before. False when the
    // file could not be written, or is unsafe: it is then left as it is for the user to see.
    bool remember(const QString& host, quint16 port, const QString& fingerprint) const;
    // Why the file is ignored, as a warning the user can act on: someone other than the user
    // could have put a certificate of his own into it, so it is unsafe unless it is a regular
    // file of the user's own with mode 0600. Empty when it is safe or does not exist.
    QString unsafeReason() const;

    const QString& filePath() const { return m_filePath; }

private:
    QString m_filePath;
};
