#pragma once
// The relay's view of an FTP control connection: the passive-mode replies it rewrites to ports
// of its own, and the commands it answers itself. Pure functions over one line each.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace relay {

// A line longer than any FTP command or reply: what holds one is passed on unread.
constexpr std::size_t kMaxLine = 8192;

struct PassiveReply
{
    enum class Kind { None, Pasv, Epsv } kind = Kind::None;
    std::uint16_t port = 0; // the server's data port
};

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" (some servers leave out the parentheses) or
// "229 Entering Extended Passive Mode (|||port|)"; Kind::None for any other line, and for one of
// these whose numbers are out of range.
PassiveReply parsePassiveReply(std::string_view line);

// The reply the client gets instead, naming the relay's own port on 127.0.0.1.
std::string passiveReplyFor(PassiveReply::Kind kind, std::uint16_t relayPort);

// The relay's own answer to a command it must not pass on, or "" for any other line:
// PORT and EPRT (the server would connect to the client around the relay) and AUTH (a TLS
// control connection hides the replies the relay rewrites).
std::string refusalFor(std::string_view commandLine);

} // namespace relay
