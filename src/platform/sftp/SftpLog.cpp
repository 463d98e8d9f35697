#include "sftp/SftpLog.h"

namespace sftp {
namespace {

struct Target
{
    LogLine log = nullptr;
    void* context = nullptr;
};

thread_local Target threadTarget;

// Reads a request's fields; past the end every read gives nothing and `ok` turns false.
class Fields
{
public:
    explicit Fields(std::string_view bytes) : m_bytes(bytes) {}

    std::uint32_t u32()
    {
        if (m_bytes.size() - m_at < 4) {
            ok = false;
            return 0;
        }
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | static_cast<unsigned char>(m_bytes[m_at++]);
        return value;
    }
    std::uint64_t u64()
    {
        const std::uint64_t high = u32();
        return (high << 32) | u32();
    }
    std::string_view string()
    {
        const std::uint32_t length = u32();
        if (!ok || m_bytes.size() - m_at < length) {
            ok = false;
            return {};
        }
        const std::string_view text = m_bytes.substr(m_at, length);
        m_at += length;
        return text;
    }
    std::uint8_t byte()
    {
        if (m_at >= m_bytes.size()) {
            ok = false;
            return 0;
        }
        return static_cast<std::uint8_t>(m_bytes[m_at++]);
    }

    bool ok = true;

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

// A path as the log shows it: quoted, control characters as '?', a very long one cut short.
std::string quoted(std::string_view path)
{
    constexpr std::size_t kLongest = 300;
    std::string text = "\"";
    for (char c : path.substr(0, kLongest))
        text += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    return text + (path.size() > kLongest ? "...\"" : "\"");
}

// Handles are the server's bytes, usually a small number: shown in hex.
std::string handleText(std::string_view handle)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (char c : handle.substr(0, 16)) {
        text += kDigits[(static_cast<unsigned char>(c) >> 4) & 0xf];
        text += kDigits[static_cast<unsigned char>(c) & 0xf];
    }
    return handle.size() > 16 ? text + "..." : text;
}

std::string openFlags(std::uint32_t flags)
{
    std::string text;
    const auto add = [&text](const char* word) {
        text += text.empty() ? word : ", " + std::string(word);
    };
    if (flags & kOpenRead)
        add("read");
    if (flags & kOpenWrite)
        add("write");
    if (flags & kOpenAppend)
        add("append");
    if (flags & kOpenCreate)
        add("create");
    if (flags & kOpenTruncate)
        add("truncate");
    if (flags & kOpenExclusive)
        add("exclusive");
    return " (" + text + ")";
}

std::string statusName(std::uint32_t code)
{
    static constexpr const char* kNames[] = {
        "OK",          "EOF",           "NO_SUCH_FILE",    "PERMISSION_DENIED", "FAILURE",
        "BAD_MESSAGE", "NO_CONNECTION", "CONNECTION_LOST", "OP_UNSUPPORTED"};
    return std::to_string(code) + (code < std::size(kNames) ? " " + std::string(kNames[code]) : "");
}

const char* pathRequestName(PacketType type)
{
    switch (type) {
    case PacketType::Lstat:
        return "LSTAT";
    case PacketType::Stat:
        return "STAT";
    case PacketType::Opendir:
        return "OPENDIR";
    case PacketType::Remove:
        return "REMOVE";
    case PacketType::Mkdir:
        return "MKDIR";
    case PacketType::Rmdir:
        return "RMDIR";
    case PacketType::Realpath:
        return "REALPATH";
    case PacketType::Readlink:
        return "READLINK";
    case PacketType::Setstat:
        return "SETSTAT";
    default:
        return nullptr;
    }
}

std::string describeExtended(Fields& in)
{
    const std::string_view name = in.string();
    std::string line = "EXTENDED " + std::string(name.substr(0, 64));
    if (name == "posix-rename@openssh.com" || name == "hardlink@openssh.com") {
        const std::string from = quoted(in.string());
        line += " " + from + " \xe2\x86\x92 " + quoted(in.string());
    } else if (name == "statvfs@openssh.com") {
        line += " " + quoted(in.string());
    } else if (name == "fsync@openssh.com") {
        line += " handle " + handleText(in.string());
    }
    return line;
}

} // namespace

void setThreadLog(LogLine log, void* context)
{
    threadTarget = Target{log, log ? context : nullptr};
}

std::string describeRequest(std::string_view packet)
{
    Fields in(packet);
    in.u32(); // the length
    const auto type = static_cast<PacketType>(in.byte());
    if (type == PacketType::Init)
        return "INIT version " + std::to_string(in.u32());
    in.u32(); // the request id
    std::string line;
    if (const char* name = pathRequestName(type)) {
        line = std::string(name) + " " + quoted(in.string());
    } else {
        switch (type) {
        case PacketType::Open: {
            line = "OPEN " + quoted(in.string());
            line += openFlags(in.u32());
            break;
        }
        case PacketType::Close:
        case PacketType::Fstat:
        case PacketType::Fsetstat:
            line = std::string(type == PacketType::Close   ? "CLOSE"
                               : type == PacketType::Fstat ? "FSTAT"
                                                           : "FSETSTAT") +
                   " handle " + handleText(in.string());
            break;
        case PacketType::Rename:
        case PacketType::Symlink: {
            const std::string from = quoted(in.string());
            line = std::string(type == PacketType::Rename ? "RENAME " : "SYMLINK ") + from +
                   " \xe2\x86\x92 " + quoted(in.string());
            break;
        }
        case PacketType::Extended:
            line = describeExtended(in);
            break;
        case PacketType::Read:
        case PacketType::Write:
        case PacketType::Readdir:
            return {}; // counted, or shown by their replies
        default:
            line = "request of type " + std::to_string(static_cast<int>(type));
            break;
        }
    }
    return in.ok ? line : line + " (malformed)";
}

void PacketLog::attach()
{
    m_log = threadTarget.log;
    m_context = threadTarget.context;
    m_asked.clear();
    m_opens.clear();
    m_files.clear();
}

void PacketLog::write(bool sent, const std::string& line) const
{
    m_log(m_context, sent, line.data(), line.size());
}

void PacketLog::note(std::string_view line) const
{
    if (m_log)
        write(true, "[ssh] " + std::string(line));
}

void PacketLog::request(std::string_view packet)
{
    if (!m_log)
        return;
    Fields in(packet);
    in.u32();
    const auto type = static_cast<PacketType>(in.byte());
    const std::uint32_t id = type == PacketType::Init ? 0 : in.u32();
    Asked asked{type, {}};
    if (type == PacketType::Read || type == PacketType::Write || type == PacketType::Readdir ||
        type == PacketType::Close)
        asked.handle = std::string(in.string());
    if (type == PacketType::Write) {
        in.u64();
        const std::uint32_t length = in.u32();
        OpenFile& file = m_files[asked.handle];
        file.written += length;
        ++file.requests;
    } else if (type == PacketType::Close) {
        // The end of a transfer: one line with what it moved.
        if (const auto file = m_files.find(asked.handle); file != m_files.end()) {
            const OpenFile& moved = file->second;
            if (moved.requests > 0)
                write(true, std::string(moved.written > 0 ? "WRITE " : "READ ") +
                                quoted(moved.path) + ": " +
                                std::to_string(moved.written + moved.read) + " bytes in " +
                                std::to_string(moved.requests) + " requests");
            m_files.erase(file);
        }
    } else if (type == PacketType::Open) {
        m_opens[id] = std::string(in.string());
    }
    m_asked[id] = std::move(asked);
    if (const std::string line = describeRequest(packet); !line.empty())
        write(true, line);
}

void PacketLog::reply(const Reply& reply)
{
    if (!m_log)
        return;
    Asked asked;
    if (const auto found = m_asked.find(reply.id); found != m_asked.end()) {
        asked = std::move(found->second);
        m_asked.erase(found);
    }
    const bool transfer = asked.type == PacketType::Read || asked.type == PacketType::Write;
    std::string line;
    switch (reply.type) {
    case PacketType::Status:
        // A transfer's every OK and its end of file are left out; its failures are not.
        if (transfer && (reply.statusCode == kStatusOk || reply.statusCode == kStatusEof))
            return;
        line = (asked.type == PacketType::Readdir && reply.statusCode == kStatusEof)
                   ? "READDIR \xe2\x86\x92 end of the folder"
                   : "STATUS " + statusName(reply.statusCode) +
                         (reply.message.empty() ? "" : ": " + quoted(reply.message));
        break;
    case PacketType::Handle: {
        line = "HANDLE " + handleText(reply.handle);
        if (const auto open = m_opens.find(reply.id); open != m_opens.end()) {
            m_files[reply.handle] = OpenFile{open->second, 0, 0, 0};
            m_opens.erase(open);
        }
        break;
    }
    case PacketType::Data:
        if (asked.type == PacketType::Read) {
            OpenFile& file = m_files[asked.handle];
            file.read += reply.data.size();
            ++file.requests;
            return;
        }
        line = "DATA " + std::to_string(reply.data.size()) + " bytes";
        break;
    case PacketType::Name:
        if (asked.type == PacketType::Readdir)
            line = "READDIR \xe2\x86\x92 " + std::to_string(reply.names.size()) + " names";
        else if (reply.names.size() == 1)
            line = "NAME " + quoted(reply.names.front().name);
        else
            line = "NAME " + std::to_string(reply.names.size()) + " names";
        break;
    case PacketType::Attrs: {
        const Attributes& attributes = reply.attributes;
        line = std::string("ATTRS ") + (attributes.isFolder() ? "folder"
                                        : attributes.isLink() ? "link"
                                                              : "file");
        if (attributes.size)
            line += ", " + std::to_string(*attributes.size) + " bytes";
        break;
    }
    case PacketType::ExtendedReply:
        line = "EXTENDED REPLY " + std::to_string(reply.data.size()) + " bytes";
        break;
    default:
        line = "reply of type " + std::to_string(static_cast<int>(reply.type));
        break;
    }
    if (reply.type == PacketType::Status)
        m_opens.erase(reply.id);
    write(false, line);
}

} // namespace sftp
