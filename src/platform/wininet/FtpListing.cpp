// Directory listings: MLSD (RFC 3659) when the server offers it, LIST otherwise. The whole
// listing is read before the enumeration handle is given out; its lines are parsed as they
// arrive, so the text is never held whole.
#include "FtpObjects.h"
#include "InternetTimeouts.h"
#include "ListingParser.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fnmatch.h>
#include <set>
#include <string>
#include <vector>

namespace wininet {
namespace {

// A listing beyond this is not a directory but an attack on our memory.
constexpr std::size_t kMaxListingBytes = 256u * 1024 * 1024;
constexpr std::size_t kListingChunk = 256 * 1024;
// No entry's line comes near this (a name has at most 259 bytes); a longer one is skipped
// whole instead of being gathered without bound.
constexpr std::size_t kMaxListingLine = 16 * 1024;

bool usableName(const char* name)
{
    // A name with CR or LF could never be sent back in a command; it is not an entry we can
    // act on. The parsers already drop empty names and names with '/'.
    return name[0] != '\0' && std::strpbrk(name, "\r\n") == nullptr;
}

// Turns the lines of a listing into entries as the chunks of text arrive.
class ListingLines
{
public:
    ListingLines(bool mlsd, std::string_view pattern, PackedListing& entries)
        : m_mlsd(mlsd), m_pattern(pattern),
          m_listParser(static_cast<std::int64_t>(std::time(nullptr))), m_entries(entries)
    {}

    // False once the listing holds more entries than it may.
    bool feed(std::string_view chunk)
    {
        while (!chunk.empty()) {
            const std::size_t end = chunk.find('\n');
            if (end == std::string_view::npos) {
                keepPartial(chunk);
                return true;
            }
            const std::string_view line = chunk.substr(0, end);
            chunk.remove_prefix(end + 1);
            if (m_skipping) {
                m_skipping = false; // the end of the overlong line
                ++m_notUnderstood;
                continue;
            }
            if (m_partial.empty()) {
                if (!parse(line))
                    return false;
                continue;
            }
            keepPartial(line);
            if (m_skipping)
                ++m_notUnderstood;
            const bool added = m_skipping || parse(m_partial);
            m_partial.clear();
            m_skipping = false;
            if (!added)
                return false;
        }
        return true;
    }

    // The last line, when the text did not end with a line break.
    bool finish()
    {
        if (m_skipping)
            ++m_notUnderstood;
        const bool added = m_skipping || m_partial.empty() || parse(m_partial);
        m_partial.clear();
        return added;
    }

    // Lines that named nothing we could pass on, though they were not headers or totals.
    std::size_t notUnderstood() const
    {
        return m_notUnderstood + (m_mlsd ? 0 : m_listParser.notUnderstood());
    }

private:
    void keepPartial(std::string_view text)
    {
        if (m_skipping)
            return;
        if (m_partial.size() + text.size() > kMaxListingLine) {
            m_skipping = true;
            m_partial.clear();
            return;
        }
        m_partial.append(text);
    }

    bool parse(std::string_view line)
    {
        if (line.size() > kMaxListingLine) {
            ++m_notUnderstood;
            return true;
        }
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        WIN32_FIND_DATAA entry{};
        const bool parsed = m_mlsd ? ParseMlsdLine(line, entry) : m_listParser.parse(line, entry);
        if (!parsed) {
            // The LIST parser counts its own: it knows totals and headers.
            if (m_mlsd && !IsListingNoise(line))
                ++m_notUnderstood;
            return true;
        }
        if (!usableName(entry.cFileName)) {
            ++m_notUnderstood;
            return true;
        }
        if (!m_pattern.empty() && ::fnmatch(m_pattern.c_str(), entry.cFileName, 0) != 0)
            return true;
        return m_entries.add(entry);
    }

    bool m_mlsd;
    std::string m_pattern;
    ListingLineParser m_listParser; // keeps what VMS and MVS need from the lines before
    PackedListing& m_entries;
    std::string m_partial; // the start of a line whose end has not arrived yet
    bool m_skipping = false;
    std::size_t m_notUnderstood = 0; // besides those the LIST parser counts
};

// Ends a listing we stop reading. The server answers the cut data connection (426, or 226
// when it had sent everything); a stalled or silent one has fallen out of step.
DWORD abandon(FtpSession& session, DataConnection& data, DWORD error)
{
    data.socket.close();
    if (error == ERROR_INTERNET_TIMEOUT) {
        session.dropConnection();
        return error;
    }
    const DWORD replyWait = error == ERROR_INTERNET_OPERATION_CANCELLED
                                ? std::min(receiveTimeoutMs(), kAbandonReplyTimeoutMs)
                                : receiveTimeoutMs();
    session.finishTransfer(data, true, Deadline::after(replyWait));
    return error;
}

DWORD readListing(FtpSession& session, DataConnection& data, ListingLines& lines)
{
    if (data.socket.isOpen()) {
        std::vector<char> buffer(kListingChunk);
        std::size_t total = 0;
        for (;;) {
            std::size_t received = 0;
            if (const DWORD error =
                    receiveSome(data.socket, buffer.data(), buffer.size(),
                                session.cancellableDeadline(receiveTimeoutMs()), received))
                return abandon(session, data, error);
            if (received == 0)
                break;
            total += received;
            if (total > kMaxListingBytes || !lines.feed({buffer.data(), received}))
                return abandon(session, data, ERROR_NOT_ENOUGH_MEMORY);
        }
        data.socket.close();
    }
    const bool complete = lines.finish();
    // A listing the server did not finish (426, dropped) is not a directory's contents.
    if (const DWORD error = session.finishTransfer(data, false))
        return error;
    return complete ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

bool isPattern(std::string_view text)
{
    return text.find_first_of("*?[") != std::string_view::npos;
}

} // namespace

namespace {

DWORD readEntries(const std::shared_ptr<FtpSession>& session, bool mlsd, std::string_view directory,
                  std::string_view pattern, PackedListing& entries)
{
    std::string command = mlsd ? "MLSD" : "LIST";
    if (!directory.empty())
        command.append(" ").append(directory);
    const FtpSession::CancellableCall cancellable(*session);
    session->setListingUnknownLines(0);
    DataConnection data;
    if (const DWORD error = session->startTransfer(command, 'A', data))
        return error;
    ListingLines lines(mlsd, pattern, entries);
    const DWORD error = readListing(*session, data, lines);
    session->setListingUnknownLines(lines.notUnderstood());
    if (error) {
        entries = PackedListing(); // never a part of the listing
        return error;
    }
    return ERROR_SUCCESS;
}

bool isFolder(const WIN32_FIND_DATAA& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Keeps the folder mark of MLSD's folders only where the ls-style listing shows the same name
// as a folder too: pyftpdlib's MLSD writes "type=dir" for a link to a folder ("stat", not
// "lstat"), while its LIST line starts with "l". A folder the LIST does not confirm (a link,
// a name it writes differently, a LIST that fails) is handed out as a link, which a tree walk
// never enters.
DWORD confirmFolders(const std::shared_ptr<FtpSession>& session, std::string_view directory,
                     PackedListing& entries)
{
    std::vector<WIN32_FIND_DATAA> all;
    all.reserve(entries.size());
    bool anyFolder = false;
    for (WIN32_FIND_DATAA entry{}; entries.take(entry);) {
        const std::string_view name(entry.cFileName, ::strnlen(entry.cFileName, MAX_PATH));
        anyFolder = anyFolder || (isFolder(entry) && name != "." && name != "..");
        all.push_back(entry);
    }
    std::set<std::string, std::less<>> confirmed;
    if (anyFolder) {
        PackedListing lsForm;
        const DWORD error = readEntries(session, false, directory, {}, lsForm);
        if (error == ERROR_INTERNET_OPERATION_CANCELLED || session->checkReady() != 0)
            return error != ERROR_SUCCESS ? error : session->checkReady();
        for (WIN32_FIND_DATAA entry{}; lsForm.take(entry);)
            if (isFolder(entry))
                confirmed.emplace(entry.cFileName, ::strnlen(entry.cFileName, MAX_PATH));
    }
    PackedListing checked;
    for (WIN32_FIND_DATAA& entry : all) {
        const std::string_view name(entry.cFileName, ::strnlen(entry.cFileName, MAX_PATH));
        if (isFolder(entry) && name != "." && name != ".." && !confirmed.contains(name)) {
            entry.dwFileAttributes &= ~FILE_ATTRIBUTE_DIRECTORY;
            entry.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        }
        if (!checked.add(entry))
            return ERROR_NOT_ENOUGH_MEMORY;
    }
    entries = std::move(checked);
    return ERROR_SUCCESS;
}

} // namespace

DWORD listDirectory(const std::shared_ptr<FtpSession>& session, std::string_view search,
                    PackedListing& entries, bool realFolders)
{
    // "*.txt" lists the directory and keeps the matching names; "dir/*.c" lists dir.
    std::string_view directory = search;
    std::string_view pattern;
    if (isPattern(search)) {
        const std::size_t slash = search.rfind('/');
        directory = slash == std::string_view::npos ? std::string_view() : search.substr(0, slash);
        pattern = slash == std::string_view::npos ? search : search.substr(slash + 1);
        if (pattern == "*" || pattern == "*.*")
            pattern = {};
    }
    const bool mlsd = session->offersMlsd();
    if (const DWORD error = readEntries(session, mlsd, directory, pattern, entries))
        return error;
    if (!mlsd || !realFolders)
        return ERROR_SUCCESS;
    if (const DWORD error = confirmFolders(session, directory, entries)) {
        entries = PackedListing();
        return error;
    }
    return ERROR_SUCCESS;
}

} // namespace wininet
