#pragma once
// A connection's conversation as short readable lines for a message log: each request sent and
// each reply received, and ssh's own stages. A transfer shows as its OPEN and, at its CLOSE,
// one line with the bytes moved, never a line per READ or WRITE. Secrets never pass through
// here: the password and passphrase go to ssh through the askpass channel alone, and only the
// kind of question is noted.
#include "sftp/SftpPacket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace sftp {

// `sent`: a request going out (or a stage of ours); otherwise a reply.
using LogLine = void (*)(void* context, bool sent, const char* line, std::size_t length);

// Where the connections this thread connects from now on write their lines; a null `log` stops
// it. The context and whatever it points to must outlive those connections.
void setThreadLog(LogLine log, void* context);

// The lines of one connection, kept apart from the engine's work: with no log target set, each
// call costs one test.
class PacketLog
{
public:
    // Takes the calling thread's log target (setThreadLog()), for a new connection.
    void attach();
    bool enabled() const { return m_log != nullptr; }

    void note(std::string_view line) const; // a stage: ssh started, asked, logged on
    void request(std::string_view packet);  // a whole packet, its length included
    void reply(const Reply& reply);

private:
    struct Asked
    {
        PacketType type = PacketType::Init;
        std::string handle;
    };
    struct OpenFile
    {
        std::string path;
        std::uint64_t read = 0;
        std::uint64_t written = 0;
        std::uint32_t requests = 0;
    };
    void write(bool sent, const std::string& line) const;

    LogLine m_log = nullptr;
    void* m_context = nullptr;
    std::unordered_map<std::uint32_t, Asked> m_asked;       // by request id
    std::unordered_map<std::uint32_t, std::string> m_opens; // OPEN ids: their paths
    std::unordered_map<std::string, OpenFile> m_files;      // by handle
};

// One request as a line ("OPEN \"/a/b\" (write, create, truncate)"); empty for READ and WRITE,
// which are counted instead. Pure: tests feed it bytes.
std::string describeRequest(std::string_view packet);

} // namespace sftp
