// Directory listings: MLSD (RFC 3659) when the server offers it, LIST otherwise. The whole
// listing is read before the enumeration handle is given out.
#include "FtpObjects.h"
#include "InternetTimeouts.h"
#include "ListingParser.h"

#include <cstring>
#include <ctime>
#include <fnmatch.h>

namespace wininet {
namespace {

// A listing beyond this is not a directory but an attack on our memory.
constexpr std::size_t kMaxListingBytes = 256u * 1024 * 1024;
constexpr std::size_t kListingChunk = 256 * 1024;

DWORD readWholeListing(const std::shared_ptr<FtpSession>& session, DataConnection& data,
                       std::string& listing)
{
    while (data.socket.isOpen()) {
        const std::size_t had = listing.size();
        if (had + kListingChunk > kMaxListingBytes) {
            data.socket.close();
            session->finishTransfer(data, true);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        listing.resize(had + kListingChunk);
        std::size_t received = 0;
        const DWORD error = receiveSome(data.socket, listing.data() + had, kListingChunk,
                                        Deadline::after(receiveTimeoutMs()), received);
        listing.resize(had + received);
        if (error != ERROR_SUCCESS) {
            data.socket.close();
            if (error == ERROR_INTERNET_TIMEOUT)
                session->dropConnection(); // a stalled server is out of step
            else
                session->finishTransfer(data, true);
            return error;
        }
        if (received == 0)
            data.socket.close();
    }
    // A listing the server did not finish (426, dropped) is not a directory's contents.
    return session->finishTransfer(data, false);
}

bool usableName(const char* name)
{
    // A name with CR or LF could never be sent back in a command; it is not an entry we can
    // act on. The parsers already drop empty names and names with '/'.
    return name[0] != '\0' && std::strpbrk(name, "\r\n") == nullptr;
}

void parseListing(std::string_view listing, bool mlsd, std::string_view pattern,
                  std::vector<WIN32_FIND_DATAA>& entries)
{
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    const std::string patternText(pattern);
    ListingLineParser listParser(now);
    while (!listing.empty()) {
        const std::size_t end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        listing = end == std::string_view::npos ? std::string_view() : listing.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        WIN32_FIND_DATAA entry{};
        const bool parsed = mlsd ? ParseMlsdLine(line, entry) : listParser.parse(line, entry);
        if (!parsed || !usableName(entry.cFileName))
            continue;
        if (!patternText.empty() && ::fnmatch(patternText.c_str(), entry.cFileName, 0) != 0)
            continue;
        entries.push_back(entry);
    }
}

bool isPattern(std::string_view text)
{
    return text.find_first_of("*?[") != std::string_view::npos;
}

} // namespace

DWORD listDirectory(const std::shared_ptr<FtpSession>& session, std::string_view search,
                    std::vector<WIN32_FIND_DATAA>& entries)
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
    std::string command = mlsd ? "MLSD" : "LIST";
    if (!directory.empty())
        command.append(" ").append(directory);
    DataConnection data;
    if (const DWORD error = session->startTransfer(command, 'A', data))
        return error;
    std::string listing;
    if (const DWORD error = readWholeListing(session, data, listing))
        return error;
    parseListing(listing, mlsd, pattern, entries);
    return ERROR_SUCCESS;
}

} // namespace wininet
