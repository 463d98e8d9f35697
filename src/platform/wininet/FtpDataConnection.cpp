// Data connections: passive (EPSV, then PASV) by default, active (EPRT, then PORT) when the
// server refuses passive mode and the caller allows it (RFC 959 3.2, RFC 2428).
#include "FtpSession.h"
#include "InternetTimeouts.h"
#include "TlsChannel.h"
#include "wininet.h"

#include <algorithm>
#include <netinet/in.h>

namespace wininet {
namespace {

constexpr int kMaxPreliminary = 8;
// Replies an abort may bring before the answer that ends it: the transfer's own 1xx and final
// replies and the ABOR's. More than this is not an FTP server.
constexpr int kMaxAbortReplies = 16;

// Reads a decimal number of at most `maximum` from text[pos...]; advances pos.
bool readNumber(std::string_view text, std::size_t& pos, unsigned maximum, unsigned& value)
{
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 6) {
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        ++pos;
    }
    return pos > start && value <= maximum;
}

std::string eprtArgument(const SocketAddress& address)
{
    const char* protocol = address.family() == AF_INET6 ? "2" : "1";
    return std::string("|") + protocol + "|" + address.hostText() + "|" +
           std::to_string(address.port()) + "|";
}

std::string portArgument(const SocketAddress& address)
{
    std::string text = address.hostText();
    for (char& c : text)
        if (c == '.')
            c = ',';
    return text + "," + std::to_string(address.port() / 256) + "," +
           std::to_string(address.port() % 256);
}

} // namespace

std::uint16_t parseEpsvReply(std::string_view text)
{
    // "229 Entering Extended Passive Mode (|||6446|)": any delimiter, the same four times.
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos || open + 4 >= text.size())
        return 0;
    const char delimiter = text[open + 1];
    if (text[open + 2] != delimiter || text[open + 3] != delimiter)
        return 0;
    std::size_t pos = open + 4;
    unsigned port = 0;
    if (!readNumber(text, pos, 65535, port) || pos >= text.size() || text[pos] != delimiter)
        return 0;
    return static_cast<std::uint16_t>(port);
}

std::uint16_t parsePasvReply(std::string_view text)
{
    // "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)"; some servers omit the parentheses.
    std::size_t pos = text.find('(');
    if (pos == std::string_view::npos) {
        pos = text.find_first_of("0123456789", 4);
        if (pos == std::string_view::npos)
            return 0;
    } else {
        ++pos;
    }
    unsigned numbers[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (!readNumber(text, pos, 255, numbers[i]))
            return 0;
        if (i < 5) {
            if (pos >= text.size() || text[pos] != ',')
                return 0;
            ++pos;
        }
    }
    return static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);
}

DWORD FtpSession::openPassive(Socket& out)
{
    FtpReply reply;
    std::uint16_t port = 0;
    if (!m_epsvRefused) {
        if (const DWORD error = exchange("EPSV", reply))
            return error;
        if (reply.code == 229)
            port = parseEpsvReply(reply.text);
        else if (reply.kind() == 5)
            m_epsvRefused = true;
    }
    if (port == 0 && !m_pasvRefused) {
        if (const DWORD error = exchange("PASV", reply))
            return error;
        if (reply.code == 227)
            port = parsePasvReply(reply.text);
        else if (reply.kind() == 5)
            m_pasvRefused = true;
    }
    if (port == 0)
        return ERROR_INTERNET_EXTENDED_ERROR;
    // The address in a PASV reply is never used: behind NAT it is often a private one, and a
    // hostile server could name a third host to make us attack it. The data comes from the
    // host we are already talking to.
    SocketAddress address = m_control.peer();
    address.setPort(port);
    const DWORD error = connectToAddress(address, cancellableDeadline(connectTimeoutMs()), out);
    return error == ERROR_INTERNET_CONNECTION_ABORTED ? ERROR_INTERNET_CANNOT_CONNECT : error;
}

DWORD FtpSession::openActive(Socket& listener)
{
    SocketAddress local;
    SocketAddress bound;
    if (!localAddress(m_control.socket(), local))
        return ERROR_INTERNET_CANNOT_CONNECT;
    if (const DWORD error = listenOn(local, listener, bound))
        return error;
    FtpReply reply;
    if (!m_eprtRefused) {
        if (const DWORD error = exchange("EPRT " + eprtArgument(bound), reply))
            return error;
        if (reply.kind() == 2)
            return ERROR_SUCCESS;
        if (reply.kind() == 5)
            m_eprtRefused = true;
    }
    if (bound.family() != AF_INET)
        return ERROR_INTERNET_EXTENDED_ERROR; // PORT speaks IPv4 only
    return expect("PORT " + portArgument(bound), 2, reply);
}

DWORD FtpSession::acceptData(const Socket& listener, Socket& out)
{
    return acceptFrom(listener, m_control.peer(), cancellableDeadline(connectTimeoutMs()), out);
}

DWORD FtpSession::startTransfer(std::string_view command, char type, DataConnection& data,
                                std::uint64_t restartAt)
{
    if (const DWORD error = checkReady())
        return error;
    if (const DWORD error = setType(type))
        return error;
    Socket listener;
    DWORD error = openPassive(data.socket);
    if (error == ERROR_INTERNET_OPERATION_CANCELLED)
        return error;
    const bool passiveFailed = error != ERROR_SUCCESS;
    if (passiveFailed) {
        // Refused passive mode (or a data port we cannot reach): let the server connect to us,
        // unless the caller asked for passive only.
        if (m_passiveOnly || checkReady() != ERROR_SUCCESS)
            return error;
        if ((error = openActive(listener)))
            return error;
    }
    FtpReply reply;
    if (restartAt > 0) {
        // RFC 3659 5.3: REST comes last before the transfer command, after PASV or PORT.
        if ((error = exchange("REST " + std::to_string(restartAt), reply)))
            return error;
        if (reply.code != 350)
            return ERROR_NOT_SUPPORTED;
    }
    // Not exchange(): the 1xx "opening data connection" is the answer wanted here, and the
    // final reply only comes once the data has moved.
    if ((error = m_control.send(command)) || (error = m_control.readReply(reply)))
        return broken(error);
    if (reply.kind() != 1 && reply.kind() != 2) {
        // A restart marker the refused command left standing would make the next transfer
        // start in the middle of its file.
        if (restartAt > 0) {
            const FtpReply refusal = reply;
            exchange("REST 0", reply);
            m_control.remember(refusal);
        }
        return ERROR_INTERNET_EXTENDED_ERROR;
    }
    data.finalReplyReceived = reply.kind() == 2;
    if (passiveFailed && !data.finalReplyReceived) {
        if ((error = acceptData(listener, data.socket)))
            return broken(error);
    }
    setState(State::Transferring);
    // The data connection's handshake starts only after the 1xx reply: RFC 4217 allows it, and
    // some servers reset a data connection whose handshake comes before they have the command.
    if (m_protectData && !data.finalReplyReceived && data.socket.isOpen()) {
        if ((error =
                 data.socket.startTls(m_tls, TlsRole::Data, Deadline::after(connectTimeoutMs())))) {
            const FtpReply reason = lastResponse();
            data.socket.close();
            finishTransfer(data, true); // the server's answer to the lost data connection
            m_control.remember(reason);
            return error;
        }
    }
    return ERROR_SUCCESS;
}

DWORD FtpSession::finishTransfer(const DataConnection& data, bool abandoned)
{
    return finishTransfer(data, abandoned, Deadline::after(receiveTimeoutMs(), &m_cancel));
}

DWORD FtpSession::finishTransfer(const DataConnection& data, bool abandoned,
                                 const Deadline& deadline)
{
    if (m_state != State::Transferring)
        return checkReady();
    setState(State::Ready);
    if (data.finalReplyReceived)
        return ERROR_SUCCESS;
    FtpReply reply;
    for (int preliminary = 0; reply.kind() == 0 || reply.kind() == 1; ++preliminary) {
        if (preliminary > kMaxPreliminary)
            return broken(ERROR_INTERNET_CONNECTION_ABORTED);
        if (const DWORD error = m_control.readReply(reply, deadline))
            return broken(error);
    }
    if (abandoned || reply.kind() == 2)
        return ERROR_SUCCESS;
    return ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD FtpSession::abortTransfer(DataConnection& data, bool reset)
{
    if (reset)
        data.socket.reset();
    else
        data.socket.close();
    if (m_state != State::Transferring)
        return checkReady();
    // RFC 959 4.1.3. Servers answer an abort in different ways: 426 for the transfer, then
    // 226 for the ABOR; a single 226 or 225; 226 for a transfer that had already ended, then
    // 225; or nothing at all for the aborted transfer (only its 150 lines) and then the ABOR's
    // answer. Counting replies cannot tell these apart, so a PWD follows the ABOR: every reply
    // before its 257 belongs to the abort, and none is left over to answer the next command.
    const Deadline deadline = Deadline::after(std::min(kAbortTimeoutMs, receiveTimeoutMs()));
    if (const DWORD error = m_control.send("ABOR"))
        return broken(error);
    if (const DWORD error = m_control.send("PWD"))
        return broken(error);
    for (int replies = 0; replies < kMaxAbortReplies; ++replies) {
        FtpReply reply;
        if (const DWORD error = m_control.readReply(reply, deadline))
            return broken(error);
        if (reply.code == 257) {
            setState(State::Ready);
            return ERROR_SUCCESS;
        }
    }
    return broken(ERROR_INTERNET_CONNECTION_ABORTED);
}

} // namespace wininet
