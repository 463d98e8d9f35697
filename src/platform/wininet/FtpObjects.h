#pragma once
// What stands behind each kind of handle.
#include "FtpSession.h"
#include "HandleTable.h"
#include "PackedListing.h"

#include <memory>
#include <string>
#include <vector>

namespace wininet {

class InternetService final : public InternetObject
{
public:
    explicit InternetService(std::string agent)
        : InternetObject(HandleKind::Internet), m_agent(std::move(agent))
    {}
    // The certificate (SHA-256 text) that the user trusts for the next connection.
    const std::string& acceptedCertificate() const { return m_acceptedCertificate; }
    void setAcceptedCertificate(std::string fingerprint)
    {
        m_acceptedCertificate = std::move(fingerprint);
    }

private:
    std::string m_agent;
    std::string m_acceptedCertificate;
};

class FtpConnection final : public InternetObject
{
public:
    FtpConnection() : InternetObject(HandleKind::Connect), m_session(std::make_shared<FtpSession>())
    {}
    const std::shared_ptr<FtpSession>& session() const { return m_session; }
    DWORD close() override
    {
        m_session->quit();
        return ERROR_SUCCESS;
    }

private:
    std::shared_ptr<FtpSession> m_session;
};

// A listing read in full when the enumeration opened, so the connection is free meanwhile.
// Entries are handed out in order, each one's memory given back as the caller moves on.
class FtpFind final : public InternetObject
{
public:
    explicit FtpFind(PackedListing entries)
        : InternetObject(HandleKind::Find), m_entries(std::move(entries))
    {}
    bool next(WIN32_FIND_DATAA& out) { return m_entries.take(out); }

private:
    PackedListing m_entries;
};

// One open RETR or STOR. Callers move 4 KiB at a time; the socket is read and written in
// large blocks behind that, so a transfer costs a system call per block, not per call.
class FtpFile final : public InternetObject
{
public:
    static constexpr std::size_t kBlockSize = 256 * 1024;

    FtpFile(std::shared_ptr<FtpSession> session, DataConnection data, bool writing);
    bool isWriting() const { return m_writing; }
    DWORD read(char* out, std::size_t wanted, std::size_t& got);
    DWORD write(const char* in, std::size_t length);
    // Ends the transfer early (FtpAbortFile): an upload is not taken for complete. 0 when the
    // connection is usable afterwards.
    DWORD abort();
    DWORD close() override;

private:
    DWORD refill();
    DWORD flush();
    DWORD finish(bool abandoned);
    DWORD fail(DWORD error);

    std::shared_ptr<FtpSession> m_session;
    DataConnection m_data;
    bool m_writing;
    // Not cleared when made: a file of a few bytes then touches one page of it, not 64, which
    // is much of the cost of each small file in a folder upload.
    std::unique_ptr<char[]> m_buffer = std::make_unique_for_overwrite<char[]>(kBlockSize);
    std::size_t m_begin = 0; // reading: next unread byte
    std::size_t m_end = 0;   // reading: end of received bytes; writing: bytes waiting
    bool m_dataEnded = false;
    bool m_finished = false;
    bool m_aborted = false;
    bool m_sentData = false;         // writing: some data went out on the data connection
    DWORD m_failure = ERROR_SUCCESS; // once a transfer failed, it stays failed
};

// Reads the current directory's entries (MLSD when offered, else LIST). `search` may be
// empty, a path, or a wildcard pattern on the names. cancelPending() on the session ends it
// with ERROR_INTERNET_OPERATION_CANCELLED; more than PackedListing::kMaxEntries entries or
// kMaxListingBytes of text fail it with ERROR_NOT_ENOUGH_MEMORY. Never a partial listing.
// `realFolders`: see FTP_FIND_REAL_FOLDERS.
DWORD listDirectory(const std::shared_ptr<FtpSession>& session, std::string_view search,
                    PackedListing& entries, bool realFolders = false);

} // namespace wininet
