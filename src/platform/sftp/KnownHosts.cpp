#include "sftp/KnownHosts.h"

#include "sftp/SftpWait.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sftp {
namespace {

constexpr std::size_t kMaxKnownHostsFile = 16 * 1024 * 1024;

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool decodeBase64(std::string_view text, std::string& out)
{
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.clear();
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const std::size_t value = kAlphabet.find(c);
        if (value == std::string_view::npos)
            return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return true;
}

// "|1|" base64(salt) "|" base64(HMAC-SHA1(salt, name)): how ssh writes a name with
// HashKnownHosts, so the file does not list the hosts the user reaches.
bool hashedNameMatches(std::string_view field, std::string_view name)
{
    field.remove_prefix(3);
    const std::size_t bar = field.find('|');
    std::string salt, hash;
    if (bar == std::string_view::npos || !decodeBase64(field.substr(0, bar), salt) ||
        !decodeBase64(field.substr(bar + 1), hash) || salt.size() != 20 || hash.size() != 20)
        return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha1(), salt.data(), static_cast<int>(salt.size()),
              reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest, &length))
        return false;
    return length == hash.size() && std::memcmp(digest, hash.data(), length) == 0;
}

// The line without the names equal to `name`; empty when nothing of it is left to keep.
std::string lineWithout(std::string_view line, std::string_view name)
{
    std::size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    if (start == line.size() || line[start] == '#' || line[start] == '@')
        return std::string(line);
    const std::size_t end = line.find_first_of(" \t", start);
    if (end == std::string_view::npos)
        return std::string(line);
    const std::string_view field = line.substr(start, end - start);
    if (field.substr(0, 3) == "|1|")
        return hashedNameMatches(field, name) ? std::string() : std::string(line);
    std::string kept;
    bool removed = false;
    bool positive = false; // a name left that makes the line match some host
    const std::string wanted = lower(name);
    std::size_t pos = 0;
    while (pos <= field.size()) {
        const std::size_t comma = std::min(field.find(',', pos), field.size());
        const std::string_view pattern = field.substr(pos, comma - pos);
        if (lower(pattern) == wanted) {
            removed = true;
        } else if (!pattern.empty()) {
            kept += kept.empty() ? "" : ",";
            kept += pattern;
            positive = positive || pattern[0] != '!';
        }
        pos = comma + 1;
    }
    if (!removed)
        return std::string(line);
    if (!positive)
        return {};
    return std::string(line.substr(0, start)) + kept + std::string(line.substr(end));
}

} // namespace

std::string knownHostsName(std::string_view hostName, int port, std::string_view alias)
{
    if (!alias.empty())
        return std::string(alias);
    const std::string host = lower(hostName);
    return port == 22 || port == 0 ? host : "[" + host + "]:" + std::to_string(port);
}

std::string withoutHostKeys(std::string_view text, std::string_view name)
{
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t newline = text.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        std::string_view line = text.substr(pos, end - pos);
        pos = end;
        std::string_view ending;
        const std::size_t body = line.find_last_not_of("\r\n");
        ending = line.substr(body == std::string_view::npos ? 0 : body + 1);
        line.remove_suffix(ending.size());
        if (line.empty()) {
            out += ending;
            continue;
        }
        const std::string kept = lineWithout(line, name);
        if (!kept.empty())
            out += kept + std::string(ending);
    }
    return out;
}

bool replaceHostKeys(const std::string& file, std::string_view name, std::string_view newLines,
                     Error& error)
{
    const auto failed = [&error](const std::string& what) {
        error = makeError(ErrorKind::Local, what + ": " + std::strerror(errno) + ".");
        return false;
    };
    // A known_hosts that links elsewhere (a shared dotfiles folder) is updated where it lives.
    std::string target = file;
    if (char resolved[PATH_MAX]; ::realpath(file.c_str(), resolved) != nullptr)
        target = resolved;
    else if (errno != ENOENT)
        return failed("The file " + file + " cannot be read");
    std::string text;
    struct stat info
    {};
    bool existed = false;
    if (UniqueFd in(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)); in) {
        if (::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            static_cast<std::size_t>(info.st_size) > kMaxKnownHostsFile)
            return failed("The file " + target + " is not a known_hosts file");
        existed = true;
        char buffer[65536];
        for (ssize_t got; (got = ::read(in.get(), buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return failed("The file " + target + " cannot be read");
            text.append(buffer, static_cast<std::size_t>(got));
        }
    } else if (errno != ENOENT) {
        return failed("The file " + target + " cannot be read");
    }
    std::string updated = withoutHostKeys(text, name);
    if (!updated.empty() && updated.back() != '\n')
        updated += '\n';
    updated += newLines;
    if (!updated.empty() && updated.back() != '\n')
        updated += '\n';

    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    std::string temporary = folder + "/.known_hosts.XXXXXX";
    UniqueFd out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!out)
        return failed("No temporary file in " + folder);
    const auto discard = [&](const std::string& what) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return failed(what);
    };
    if (existed) {
        if (::fchmod(out.get(), info.st_mode & 07777) != 0)
            return discard("The mode of " + target + " cannot be kept");
        // Only root may give a file away; for anyone else the file is already theirs.
        [[maybe_unused]] const int owned = ::fchown(out.get(), info.st_uid, info.st_gid);
    }
    for (std::size_t done = 0; done < updated.size();) {
        const ssize_t wrote = ::write(out.get(), updated.data() + done, updated.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return discard("The file " + target + " cannot be written");
        done += static_cast<std::size_t>(wrote);
    }
    if (::fsync(out.get()) != 0 || ::close(out.release()) != 0)
        return discard("The file " + target + " cannot be written");
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return discard("The file " + target + " cannot be replaced");
    return true;
}

} // namespace sftp
