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

    // The fingerprint trusted for the server, or the empty text.
    QString fingerprint(const QString& host, quint16 port) const;
    // Trusts `fingerprint` for the server from now on, in place of any before. False when the
    // file could not be written.
    bool remember(const QString& host, quint16 port, const QString& fingerprint) const;

    const QString& filePath() const { return m_filePath; }

private:
    QString m_filePath;
};
