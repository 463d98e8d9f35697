#include "RelayFtp.h"

#include <cctype>

namespace relay {
namespace {

// A decimal number of at most `maximum`, read from text[pos...]; advances pos.
bool readNumber(std::string_view text, std::size_t& pos, unsigned maximum, unsigned& value)
{
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) &&
           pos - start < 6) {
        value = value * 10 + unsigned(text[pos] - '0');
        ++pos;
    }
    return pos > start && value <= maximum;
}

std::uint16_t pasvPort(std::string_view text)
{
    std::size_t pos = text.find('(');
    pos = pos == std::string_view::npos ? text.find_first_of("0123456789", 4) : pos + 1;
    if (pos == std::string_view::npos)
        return 0;
    unsigned numbers[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (!readNumber(text, pos, 255, numbers[i]))
            return 0;
        if (i < 5 && (pos >= text.size() || text[pos++] != ','))
            return 0;
    }
    return std::uint16_t(numbers[4] * 256 + numbers[5]);
}

std::uint16_t epsvPort(std::string_view text)
{
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
    return std::uint16_t(port);
}

bool startsWithWord(std::string_view line, std::string_view word)
{
    if (line.size() < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(line[i])) != word[i])
            return false;
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\r' ||
           line[word.size()] == '\n';
}

} // namespace

PassiveReply parsePassiveReply(std::string_view line)
{
    PassiveReply reply;
    if (line.size() < 4 || line[3] != ' ')
        return reply;
    if (line.substr(0, 3) == "227")
        reply.port = pasvPort(line);
    else if (line.substr(0, 3) == "229")
        reply.port = epsvPort(line);
    if (reply.port != 0)
        reply.kind = line[2] == '7' ? PassiveReply::Kind::Pasv : PassiveReply::Kind::Epsv;
    return reply;
}

std::string passiveReplyFor(PassiveReply::Kind kind, std::uint16_t relayPort)
{
    if (kind == PassiveReply::Kind::Epsv)
        return "229 Entering Extended Passive Mode (|||" + std::to_string(relayPort) + "|).\r\n";
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(relayPort / 256) + "," +
           std::to_string(relayPort % 256) + ").\r\n";
}

std::string refusalFor(std::string_view commandLine)
{
    if (startsWithWord(commandLine, "PORT") || startsWithWord(commandLine, "EPRT"))
        return "502 The delaying relay carries passive data connections only: PORT and EPRT "
               "are refused, use PASV or EPSV.\r\n";
    if (startsWithWord(commandLine, "AUTH"))
        return "502 The delaying relay reads the control connection to carry data "
               "connections: AUTH (TLS) is refused, plain FTP only.\r\n";
    return {};
}

} // namespace relay
