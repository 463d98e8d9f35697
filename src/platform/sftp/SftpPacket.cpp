#include "sftp/SftpPacket.h"

#include <sys/stat.h>

namespace sftp {
namespace {

// Reads big-endian numbers and length-prefixed strings, failing (and staying failed) on the
// first read that would go past the end.
class ByteReader
{
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool ok() const { return m_ok; }
    std::size_t remaining() const { return m_bytes.size() - m_pos; }

    std::uint8_t u8()
    {
        if (!take(1))
            return 0;
        return m_bytes[m_pos - 1];
    }
    std::uint32_t u32()
    {
        if (!take(4))
            return 0;
        const std::uint8_t* p = &m_bytes[m_pos - 4];
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
               (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
    }
    std::uint64_t u64()
    {
        const std::uint64_t high = u32();
        return (high << 32) | u32();
    }
    std::string string(std::size_t limit)
    {
        const std::uint32_t length = u32();
        if (!m_ok || length > remaining() || length > limit) {
            m_ok = false;
            return {};
        }
        const auto* start = reinterpret_cast<const char*>(&m_bytes[m_pos]);
        m_pos += length;
        return std::string(start, length);
    }
    void fail() { m_ok = false; }

private:
    bool take(std::size_t count)
    {
        if (!m_ok || count > remaining()) {
            m_ok = false;
            return false;
        }
        m_pos += count;
        return true;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

Attributes readAttributes(ByteReader& in)
{
    Attributes attributes;
    const std::uint32_t flags = in.u32();
    if (flags & kAttrSize)
        attributes.size = in.u64();
    if (flags & kAttrUidGid) {
        attributes.uid = in.u32();
        attributes.gid = in.u32();
    }
    if (flags & kAttrPermissions)
        attributes.permissions = in.u32();
    if (flags & kAttrTimes) {
        attributes.accessTime = in.u32();
        attributes.modifyTime = in.u32();
    }
    if (flags & kAttrExtended) {
        // Each pair is two strings of at least four bytes; a count that could not fit in the
        // rest of the packet is a lie, not a reason to loop four billion times.
        const std::uint32_t count = in.u32();
        if (count > in.remaining() / 8) {
            in.fail();
            return attributes;
        }
        for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
            in.string(kMaxReplyLength);
            in.string(kMaxReplyLength);
        }
    }
    return attributes;
}

bool finish(const ByteReader& in, std::string& error, const char* what)
{
    if (!in.ok()) {
        error = std::string("The server sent a malformed ") + what + " reply.";
        return false;
    }
    return true;
}

// Builds one request: the length prefix is filled in when the packet is finished.
class PacketWriter
{
public:
    explicit PacketWriter(PacketType type) { m_bytes.assign(4, '\0'), u8(std::uint8_t(type)); }
    PacketWriter& u8(std::uint8_t value)
    {
        m_bytes.push_back(static_cast<char>(value));
        return *this;
    }
    PacketWriter& u32(std::uint32_t value)
    {
        for (int shift = 24; shift >= 0; shift -= 8)
            m_bytes.push_back(static_cast<char>((value >> shift) & 0xff));
        return *this;
    }
    PacketWriter& u64(std::uint64_t value)
    {
        u32(static_cast<std::uint32_t>(value >> 32));
        return u32(static_cast<std::uint32_t>(value & 0xffffffffu));
    }
    PacketWriter& string(std::string_view value)
    {
        u32(static_cast<std::uint32_t>(value.size()));
        m_bytes.append(value);
        return *this;
    }
    std::string finish()
    {
        const auto length = static_cast<std::uint32_t>(m_bytes.size() - 4);
        for (int i = 0; i < 4; ++i)
            m_bytes[static_cast<std::size_t>(i)] =
                static_cast<char>((length >> (24 - 8 * i)) & 0xff);
        return std::move(m_bytes);
    }
    void reserve(std::size_t size) { m_bytes.reserve(size); }

private:
    std::string m_bytes;
};

} // namespace

bool Attributes::isFolder() const
{
    return permissions && S_ISDIR(*permissions);
}

bool Attributes::isLink() const
{
    return permissions && S_ISLNK(*permissions);
}

bool Attributes::isRegular() const
{
    return permissions && S_ISREG(*permissions);
}

bool parseReply(std::span<const std::uint8_t> packet, Reply& reply, std::string& error)
{
    ByteReader in(packet);
    reply = Reply{};
    const std::uint8_t type = in.u8();
    reply.id = in.u32();
    if (!in.ok()) {
        error = "The server sent a reply too short to read.";
        return false;
    }
    reply.type = static_cast<PacketType>(type);
    switch (reply.type) {
    case PacketType::Status:
        reply.statusCode = in.u32();
        // Servers of the first drafts end the packet after the code.
        if (in.ok() && in.remaining() > 0) {
            reply.message = in.string(4096);
            in.string(256); // language tag
        }
        return finish(in, error, "status");
    case PacketType::Handle:
        reply.handle = in.string(kMaxHandleLength);
        return finish(in, error, "handle");
    case PacketType::Data:
        reply.data = in.string(kMaxReplyLength);
        return finish(in, error, "data");
    case PacketType::Name: {
        const std::uint32_t count = in.u32();
        // Each entry takes at least two empty strings and the attribute flags.
        if (count > in.remaining() / 12) {
            error = "The server's listing claims more names than its reply holds.";
            return false;
        }
        reply.names.reserve(count);
        for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
            NameEntry entry;
            entry.name = in.string(kMaxReplyLength);
            entry.longName = in.string(kMaxReplyLength);
            entry.attributes = readAttributes(in);
            reply.names.push_back(std::move(entry));
        }
        return finish(in, error, "name");
    }
    case PacketType::Attrs:
        reply.attributes = readAttributes(in);
        return finish(in, error, "attributes");
    case PacketType::ExtendedReply:
        reply.data.assign(reinterpret_cast<const char*>(packet.data()) + 5, in.remaining());
        return true;
    default:
        error = "The server sent a reply of unknown type " + std::to_string(type) + ".";
        return false;
    }
}

bool parseVersion(std::span<const std::uint8_t> packet, VersionReply& version, std::string& error)
{
    ByteReader in(packet);
    version = VersionReply{};
    if (in.u8() != std::uint8_t(PacketType::Version) || !in.ok()) {
        error = "The server did not start the file-transfer protocol.";
        return false;
    }
    version.version = in.u32();
    while (in.ok() && in.remaining() > 0 && version.extensions.size() < 256) {
        std::string name = in.string(256);
        std::string data = in.string(4096);
        if (in.ok())
            version.extensions.emplace_back(std::move(name), std::move(data));
    }
    return finish(in, error, "version");
}

bool parseLimits(std::string_view payload, ServerLimits& limits)
{
    ByteReader in({reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()});
    limits.maxPacketLength = in.u64();
    limits.maxReadLength = in.u64();
    limits.maxWriteLength = in.u64();
    limits.maxOpenHandles = in.u64();
    return in.ok();
}

bool parseStatvfs(std::string_view payload, FileSystemSpace& space)
{
    ByteReader in({reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()});
    space.blockSize = in.u64();
    space.fragmentSize = in.u64();
    space.blocks = in.u64();
    space.freeBlocks = in.u64();
    space.availableBlocks = in.u64();
    return in.ok();
}

bool isPlainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::string encodeInit(std::uint32_t version)
{
    // INIT carries no request id: the version sits where the id would.
    return PacketWriter(PacketType::Init).u32(version).finish();
}

std::string encodePath(PacketType type, std::uint32_t id, std::string_view path)
{
    return PacketWriter(type).u32(id).string(path).finish();
}

std::string encodeOpen(std::uint32_t id, std::string_view path, std::uint32_t flags,
                       std::optional<std::uint32_t> permissions)
{
    PacketWriter out(PacketType::Open);
    out.u32(id).string(path).u32(flags);
    if (permissions)
        out.u32(kAttrPermissions).u32(*permissions);
    else
        out.u32(0);
    return out.finish();
}

std::string encodeHandle(PacketType type, std::uint32_t id, std::string_view handle)
{
    return PacketWriter(type).u32(id).string(handle).finish();
}

std::string encodeRead(std::uint32_t id, std::string_view handle, std::uint64_t offset,
                       std::uint32_t length)
{
    return PacketWriter(PacketType::Read).u32(id).string(handle).u64(offset).u32(length).finish();
}

std::string encodeWrite(std::uint32_t id, std::string_view handle, std::uint64_t offset,
                        std::string_view data)
{
    PacketWriter out(PacketType::Write);
    out.reserve(4 + 1 + 4 + 4 + handle.size() + 8 + 4 + data.size());
    return out.u32(id).string(handle).u64(offset).string(data).finish();
}

std::string encodeMkdir(std::uint32_t id, std::string_view path, std::uint32_t permissions)
{
    return PacketWriter(PacketType::Mkdir)
        .u32(id)
        .string(path)
        .u32(kAttrPermissions)
        .u32(permissions)
        .finish();
}

std::string encodeRename(std::uint32_t id, std::string_view from, std::string_view to)
{
    return PacketWriter(PacketType::Rename).u32(id).string(from).string(to).finish();
}

std::string encodeSetTimes(std::uint32_t id, std::string_view path, std::uint32_t accessTime,
                           std::uint32_t modifyTime)
{
    return PacketWriter(PacketType::Setstat)
        .u32(id)
        .string(path)
        .u32(kAttrTimes)
        .u32(accessTime)
        .u32(modifyTime)
        .finish();
}

std::string encodeExtended(std::uint32_t id, std::string_view name,
                           std::initializer_list<std::string_view> arguments)
{
    PacketWriter out(PacketType::Extended);
    out.u32(id).string(name);
    for (std::string_view argument : arguments)
        out.string(argument);
    return out.finish();
}

} // namespace sftp
