#include "FtpSession.h"

#include "InternetTimeouts.h"
#include "TlsChannel.h"
#include "wininet.h"

#include <algorithm>
#include <cctype>

namespace wininet {
namespace {
// A server may send a few 1xx notes before its answer; more than this is not an FTP server.
constexpr int kMaxPreliminaryReplies = 8;

std::string upperWord(std::string_view text)
{
    std::string word;
    for (const char c : text) {
        if (c == ' ')
            break;
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return word;
}
} // namespace

void FtpSession::setState(State next)
{
    m_state = next;
    if (next == State::Broken || next == State::Closed)
        m_control.close();
}

DWORD FtpSession::broken(DWORD error)
{
    setState(State::Broken);
    return error;
}

DWORD FtpSession::checkReady() const
{
    switch (m_state) {
    case State::Ready:
        return ERROR_SUCCESS;
    case State::Transferring:
        return ERROR_FTP_TRANSFER_IN_PROGRESS;
    case State::Closed:
    case State::Broken:
        break;
    }
    return ERROR_FTP_DROPPED;
}

DWORD FtpSession::exchange(std::string_view command, FtpReply& reply)
{
    if (const DWORD error = m_control.send(command))
        // Refused before a byte left: the connection is as it was.
        return error == ERROR_INVALID_PARAMETER ? error : broken(error);
    // One deadline for the whole answer: a server dripping out "150" lines, each inside the
    // time-out, must not hold the call for a time-out per line.
    const Deadline deadline = cancellableDeadline(receiveTimeoutMs());
    for (int preliminary = 0; preliminary <= kMaxPreliminaryReplies; ++preliminary) {
        if (const DWORD error = m_control.readReply(reply, deadline))
            return broken(error);
        if (reply.kind() != 1)
            return ERROR_SUCCESS;
    }
    return broken(ERROR_INTERNET_CONNECTION_ABORTED);
}

DWORD FtpSession::expect(std::string_view command, int expectedKind, FtpReply& reply)
{
    if (const DWORD error = exchange(command, reply))
        return error;
    return reply.kind() == expectedKind ? ERROR_SUCCESS : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD FtpSession::connect(const LoginDetails& details)
{
    m_passiveOnly = details.passiveOnly;
    if (const DWORD error = m_control.open(details.host, details.port))
        return error == ERROR_INTERNET_CONNECTION_ABORTED ? ERROR_INTERNET_CANNOT_CONNECT : error;
    setState(State::Ready);
    if (details.tls == TlsUse::Implicit)
        if (const DWORD error = startImplicitTls(details))
            return error;
    FtpReply greeting;
    const Deadline deadline = cancellableDeadline(receiveTimeoutMs());
    for (int preliminary = 0;; ++preliminary) {
        // "120 Service ready in nnn minutes" comes before the real greeting.
        if (const DWORD error = m_control.readReply(greeting, deadline))
            return broken(error);
        if (greeting.kind() != 1)
            break;
        if (preliminary == kMaxPreliminaryReplies)
            return broken(ERROR_INTERNET_CONNECTION_ABORTED);
    }
    if (greeting.kind() != 2)
        return broken(ERROR_INTERNET_EXTENDED_ERROR);
    if (details.tls == TlsUse::IfAvailable || details.tls == TlsUse::Required)
        if (const DWORD error = negotiateTls(details))
            return error;
    if (const DWORD error = login(details))
        return error;
    if (m_tls)
        if (const DWORD error = protectData(details))
            return error;
    readFeatures();
    return checkReady();
}

DWORD FtpSession::negotiateTls(const LoginDetails& details)
{
    FtpReply reply;
    if (const DWORD error = exchange("AUTH TLS", reply))
        return error;
    if (reply.code != 234) {
        // RFC 4217 section 4: a server without TLS refuses AUTH. Only a user who allowed plain
        // FTP gets it; otherwise the connection ends before the user name goes out, and
        // "if available" says so with its own code, for the caller to ask the user.
        const bool refused = reply.kind() == 4 || reply.kind() == 5;
        if (details.tls == TlsUse::IfAvailable && refused)
            return details.plainFallback ? ERROR_SUCCESS
                                         : broken(ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED);
        return broken(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    }
    std::shared_ptr<TlsContext> context;
    if (const DWORD error = TlsContext::create(details.host, details.acceptedCertificate, context))
        return broken(error);
    if (const DWORD error = m_control.startTls(context))
        return broken(error);
    m_tls = std::move(context);
    return ERROR_SUCCESS;
}

DWORD FtpSession::startImplicitTls(const LoginDetails& details)
{
    // The server speaks TLS before its greeting; a server that greets in clear instead fails
    // the handshake, and nothing, no user name, goes out unencrypted.
    std::shared_ptr<TlsContext> context;
    if (const DWORD error = TlsContext::create(details.host, details.acceptedCertificate, context))
        return broken(error);
    if (const DWORD error = m_control.startTls(context))
        return broken(error);
    m_tls = std::move(context);
    return ERROR_SUCCESS;
}

DWORD FtpSession::protectData(const LoginDetails& details)
{
    // RFC 4217 sections 8 and 9: PBSZ 0 first, then PROT P encrypts every data connection.
    FtpReply reply;
    if (const DWORD error = exchange("PBSZ 0", reply))
        return error;
    if (reply.kind() == 2)
        if (const DWORD error = exchange("PROT P", reply))
            return error;
    if (reply.kind() == 2) {
        m_protectData = true;
        return ERROR_SUCCESS;
    }
    // Files in clear are what "required" rules out; "if available" settles for the password
    // having travelled encrypted.
    if (details.tls != TlsUse::IfAvailable)
        return broken(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    return ERROR_SUCCESS;
}

DWORD FtpSession::tlsProtocol() const
{
    return m_tls ? m_tls->protocol() : 0;
}

DWORD FtpSession::login(const LoginDetails& details)
{
    FtpReply reply;
    if (const DWORD error = exchange("USER " + details.user, reply))
        return error;
    if (reply.kind() == 2)
        return ERROR_SUCCESS; // no password needed
    if (reply.kind() != 3)
        return broken(reply.code == 530 ? ERROR_INTERNET_INCORRECT_USER_NAME
                                        : ERROR_INTERNET_LOGIN_FAILURE);
    // An empty password goes out as "PASS " with an empty argument, as the user typed it.
    if (const DWORD error = exchange("PASS " + details.password, reply))
        return error;
    if (reply.kind() == 2)
        return ERROR_SUCCESS;
    // 332 asks for an account (ACCT), which the interface has no way to give.
    return broken(reply.code == 530 ? ERROR_INTERNET_INCORRECT_PASSWORD
                                    : ERROR_INTERNET_LOGIN_FAILURE);
}

void FtpSession::readFeatures()
{
    FtpReply reply;
    if (exchange("FEAT", reply) != ERROR_SUCCESS || reply.code != 211)
        return; // RFC 2389: a server without FEAT offers none of the extensions
    bool utf8 = false;
    std::string_view rest(reply.text);
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        // Feature lines begin with a blank; the first and last lines carry the code.
        if (line.empty() || line[0] != ' ')
            continue;
        line.remove_prefix(line.find_first_not_of(' '));
        const std::string name = upperWord(line);
        if (name == "MLST" || name == "MLSD")
            m_offersMlsd = true; // RFC 3659 7.8: MLST in FEAT implies MLSD
        else if (name == "UTF8")
            utf8 = true;
        else if (name == "REST") {
            // RFC 3659 5.4: "REST STREAM"; a REST for another transfer mode is no use to us.
            const std::size_t mode = line.find_first_not_of(' ', 4);
            if (mode != std::string_view::npos && upperWord(line.substr(mode)) == "STREAM")
                m_offersRestart = true;
        }
    }
    // RFC 2640: names travel as UTF-8 once asked for, which is what our names are.
    if (utf8 && m_state == State::Ready)
        exchange("OPTS UTF8 ON", reply);
}

void FtpSession::cancelPending()
{
    const std::lock_guard lock(m_cancelMutex);
    if (m_cancelArmed)
        m_cancel.raise();
}

FtpSession::CancellableCall::CancellableCall(FtpSession& session) : m_session(session)
{
    const std::lock_guard lock(session.m_cancelMutex);
    session.m_cancel.clear();
    session.m_cancelArmed = true;
}

FtpSession::CancellableCall::~CancellableCall()
{
    const std::lock_guard lock(m_session.m_cancelMutex);
    m_session.m_cancelArmed = false;
    m_session.m_cancel.clear();
}

void FtpSession::quit()
{
    if (m_state == State::Ready && m_control.send("QUIT") == ERROR_SUCCESS) {
        FtpReply reply;
        m_control.readReply(reply, Deadline::after(kQuitTimeoutMs));
    }
    setState(State::Closed);
}

DWORD FtpSession::currentDirectory(std::string& path)
{
    FtpReply reply;
    if (const DWORD error = expect("PWD", 2, reply))
        return error;
    return parsePwdReply(reply.text, path) ? ERROR_SUCCESS : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD FtpSession::changeDirectory(std::string_view path)
{
    FtpReply reply;
    if (path == "..") {
        if (const DWORD error = exchange("CDUP", reply))
            return error;
        if (reply.kind() == 2)
            return ERROR_SUCCESS;
        if (reply.code != 500 && reply.code != 502)
            return ERROR_INTERNET_EXTENDED_ERROR;
        // A server without CDUP still knows "..".
    }
    return expect("CWD " + std::string(path), 2, reply);
}

DWORD FtpSession::simpleCommand(std::string_view verb, std::string_view argument)
{
    FtpReply reply;
    return expect(std::string(verb) + " " + std::string(argument), 2, reply);
}

DWORD FtpSession::rename(std::string_view from, std::string_view to)
{
    FtpReply reply;
    if (const DWORD error = expect("RNFR " + std::string(from), 3, reply))
        return error;
    return expect("RNTO " + std::string(to), 2, reply);
}

DWORD FtpSession::fileSize(std::string_view name, std::uint64_t& size)
{
    if (const DWORD error = checkReady())
        return error;
    if (const DWORD error = setType('I'))
        return error;
    FtpReply reply;
    if (const DWORD error = exchange("SIZE " + std::string(name), reply))
        return error;
    if (reply.code == 213)
        return parseSizeReply(reply.text, size) ? ERROR_SUCCESS : ERROR_INTERNET_EXTENDED_ERROR;
    if (reply.code == 500 || reply.code == 502)
        return ERROR_NOT_SUPPORTED;
    return ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD FtpSession::fileTime(std::string_view name, std::string& stamp)
{
    if (const DWORD error = checkReady())
        return error;
    FtpReply reply;
    if (const DWORD error = exchange("MDTM " + std::string(name), reply))
        return error;
    if (reply.code == 213)
        return parseMdtmReply(reply.text, stamp) ? ERROR_SUCCESS : ERROR_INTERNET_EXTENDED_ERROR;
    if (reply.code == 500 || reply.code == 502)
        return ERROR_NOT_SUPPORTED;
    return ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD FtpSession::setType(char type)
{
    if (m_type == type)
        return ERROR_SUCCESS;
    FtpReply reply;
    if (const DWORD error = expect(std::string("TYPE ") + type, 2, reply))
        return error;
    m_type = type;
    return ERROR_SUCCESS;
}

bool parseSizeReply(std::string_view text, std::uint64_t& size)
{
    // "213 1048576": one decimal number, nothing else on the line.
    std::string_view line = text.substr(0, text.find("\r\n"));
    if (line.size() < 5 || line.substr(0, 4) != "213 ")
        return false;
    line.remove_prefix(4);
    if (line.empty() || line.size() > 19)
        return false; // more digits than a 64-bit size can hold safely
    std::uint64_t value = 0;
    for (const char c : line) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    size = value;
    return true;
}

bool parseMdtmReply(std::string_view text, std::string& stamp)
{
    std::string_view line = text.substr(0, text.find("\r\n"));
    if (line.size() < 4 || line.substr(0, 4) != "213 ")
        return false;
    line.remove_prefix(4);
    const auto digits = [](std::string_view part) {
        return !part.empty() &&
               std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (line.size() < 14 || !digits(line.substr(0, 14)))
        return false;
    if (line.size() > 14 && (line[14] != '.' || line.size() > 24 || !digits(line.substr(15))))
        return false;
    stamp.assign(line);
    return true;
}

bool parsePwdReply(std::string_view text, std::string& path)
{
    // RFC 959 appendix II: the name is quoted, and a quote inside it is doubled.
    const std::size_t lineEnd = text.find("\r\n");
    std::string_view line = text.substr(0, lineEnd);
    if (line.size() < 4)
        return false;
    line.remove_prefix(4);
    const std::size_t open = line.find('"');
    if (open == std::string_view::npos) {
        // Some servers skip the quotes: "257 /home/user is the current directory".
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string_view::npos || line[start] != '/')
            return false;
        const std::size_t end = line.find(' ', start);
        path.assign(line.substr(start, end - start));
        return true;
    }
    path.clear();
    for (std::size_t i = open + 1; i < line.size(); ++i) {
        if (line[i] != '"') {
            path += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
            path += '"';
            ++i;
        } else {
            return true;
        }
    }
    return false; // no closing quote
}

} // namespace wininet
