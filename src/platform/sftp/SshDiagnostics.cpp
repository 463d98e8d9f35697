#include "sftp/SshDiagnostics.h"

#include <algorithm>
#include <cctype>

namespace sftp {
namespace {

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

bool containsNoCase(std::string_view text, std::string_view part)
{
    const auto it =
        std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
        });
    return it != text.end();
}

// A SHA256 fingerprint as ssh prints it: "SHA256:" and unpadded base64.
std::string readFingerprint(std::string_view text)
{
    if (text.substr(0, 7) != "SHA256:")
        return {};
    std::size_t end = 7;
    while (end < text.size() && end < 7 + 64 &&
           (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '+' ||
            text[end] == '/'))
        ++end;
    return end > 7 ? std::string(text.substr(0, end)) : std::string();
}

// The word before `pos` on its line: ssh prints the key type there ("ED25519", "RSA",
// "ECDSA", "ED25519-SK").
std::string wordBefore(std::string_view text, std::size_t pos)
{
    std::size_t end = pos;
    while (end > 0 && text[end - 1] == ' ')
        --end;
    std::size_t start = end;
    while (start > 0 && text[start - 1] != ' ' && text[start - 1] != '\n')
        --start;
    return std::string(text.substr(start, end - start));
}

std::string lastLine(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    const std::size_t start = text.rfind('\n');
    std::string_view line = start == std::string_view::npos ? text : text.substr(start + 1);
    if (line.size() > 300)
        line = line.substr(0, 300);
    std::string printable;
    for (char c : line)
        printable += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    return printable;
}

Error failure(ErrorKind kind, std::string text)
{
    Error error;
    error.kind = kind;
    error.text = std::move(text);
    return error;
}

} // namespace

PromptRequest classifyPrompt(std::string_view prompt, std::string_view hint)
{
    PromptRequest request;
    request.text = std::string(prompt);
    constexpr std::string_view marker = " key fingerprint is ";
    if (contains(prompt, "authenticity of host")) {
        request.kind = PromptKind::HostKey;
        const std::size_t at = prompt.find(marker);
        if (at != std::string_view::npos) {
            request.keyType = wordBefore(prompt, at);
            request.fingerprint = readFingerprint(prompt.substr(at + marker.size()));
        }
    } else if (hint == "confirm" || hint == "none") {
        request.kind = PromptKind::Confirm;
    } else if (containsNoCase(prompt, "passphrase for")) {
        request.kind = PromptKind::KeyPassphrase;
    } else if (containsNoCase(prompt, "password")) {
        // "user@host's password: " (password log-on) and "(user@host) Password: "
        // (keyboard-interactive asking for the same password).
        request.kind = PromptKind::Password;
    } else {
        request.kind = PromptKind::Text;
    }
    return request;
}

bool parseChangedHostKey(std::string_view sshErrors, std::string& keyType, std::string& fingerprint)
{
    constexpr std::string_view lead = "The fingerprint for the ";
    constexpr std::string_view tail = " key sent by the remote host is";
    const std::size_t start = sshErrors.find(lead);
    if (start == std::string_view::npos)
        return false;
    const std::size_t typeStart = start + lead.size();
    const std::size_t typeEnd = sshErrors.find(tail, typeStart);
    if (typeEnd == std::string_view::npos || typeEnd - typeStart > 32)
        return false;
    std::size_t next = typeEnd + tail.size();
    while (next < sshErrors.size() && (sshErrors[next] == '\r' || sshErrors[next] == '\n'))
        ++next;
    fingerprint = readFingerprint(sshErrors.substr(next));
    keyType = std::string(sshErrors.substr(typeStart, typeEnd - typeStart));
    return !fingerprint.empty();
}

Error describeSshFailure(std::string_view sshErrors, std::string_view host)
{
    const std::string site(host);
    if (contains(sshErrors, "REMOTE HOST IDENTIFICATION HAS CHANGED")) {
        Error error = failure(ErrorKind::HostKeyChanged, "");
        parseChangedHostKey(sshErrors, error.keyType, error.fingerprint);
        error.text = "WARNING: the host key of " + site +
                     " has changed since the last connection. Someone may be intercepting the "
                     "connection, or the server was reinstalled. Nothing was sent. The " +
                     error.keyType + " key the server sent now has the fingerprint " +
                     error.fingerprint + ".";
        return error;
    }
    if (contains(sshErrors, "Host key verification failed"))
        return failure(ErrorKind::HostKeyRefused,
                       "The host key of " + site + " was not trusted, so nothing was sent.");
    if (contains(sshErrors, "Permission denied") || contains(sshErrors, "Too many authentication"))
        return failure(ErrorKind::LogOnFailed,
                       "The server " + site +
                           " refused the log-on: the user name, password or key is wrong.");
    if (contains(sshErrors, "Connection refused"))
        return failure(ErrorKind::ConnectFailed,
                       site + " refused the connection: no SSH server listens on that port.");
    if (contains(sshErrors, "Could not resolve hostname"))
        return failure(ErrorKind::ConnectFailed, "The host name " + site + " could not be found.");
    if (contains(sshErrors, "timed out"))
        return failure(ErrorKind::Timeout, site + " did not answer in time.");
    if (contains(sshErrors, "No route to host") || contains(sshErrors, "Network is unreachable"))
        return failure(ErrorKind::ConnectFailed, site + " cannot be reached from this network.");
    if (contains(sshErrors, "subsystem request failed"))
        return failure(ErrorKind::ConnectFailed,
                       "The SSH server " + site + " does not offer file transfer (SFTP).");
    if (contains(sshErrors, "kex_exchange_identification") ||
        contains(sshErrors, "Connection closed by") || contains(sshErrors, "Connection reset"))
        return failure(ErrorKind::ConnectionLost,
                       site + " closed the connection while it was being set up.");
    const std::string detail = lastLine(sshErrors);
    return failure(ErrorKind::ConnectionLost,
                   "The connection to " + site + " was lost" +
                       (detail.empty() ? std::string(".") : ": " + detail));
}

} // namespace sftp
