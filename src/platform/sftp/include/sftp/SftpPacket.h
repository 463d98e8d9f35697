#pragma once
// The file-transfer protocol's packets (version 3, as OpenSSH's server speaks it): encoders for
// the requests this client sends, and a parser for the server's replies that is a pure function
// over bytes. Every length in a reply is checked against the bytes that are there and against
// the limits below before anything is allocated, so a hostile server costs at most one packet.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sftp {

enum class PacketType : std::uint8_t {
    Init = 1,
    Version = 2,
    Open = 3,
    Close = 4,
    Read = 5,
    Write = 6,
    Lstat = 7,
    Fstat = 8,
    Setstat = 9,
    Fsetstat = 10,
    Opendir = 11,
    Readdir = 12,
    Remove = 13,
    Mkdir = 14,
    Rmdir = 15,
    Realpath = 16,
    Stat = 17,
    Rename = 18,
    Readlink = 19,
    Symlink = 20,
    Status = 101,
    Handle = 102,
    Data = 103,
    Name = 104,
    Attrs = 105,
    Extended = 200,
    ExtendedReply = 201,
};

// Status codes of version 3; servers may send others, which are kept as numbers.
enum StatusCode : std::uint32_t {
    kStatusOk = 0,
    kStatusEof = 1,
    kStatusNoSuchFile = 2,
    kStatusPermissionDenied = 3,
    kStatusFailure = 4,
    kStatusBadMessage = 5,
    kStatusNoConnection = 6,
    kStatusConnectionLost = 7,
    kStatusOpUnsupported = 8,
};

// Open flags.
constexpr std::uint32_t kOpenRead = 0x01;
constexpr std::uint32_t kOpenWrite = 0x02;
constexpr std::uint32_t kOpenAppend = 0x04;
constexpr std::uint32_t kOpenCreate = 0x08;
constexpr std::uint32_t kOpenTruncate = 0x10;
constexpr std::uint32_t kOpenExclusive = 0x20;

// Attribute flags.
constexpr std::uint32_t kAttrSize = 0x01;
constexpr std::uint32_t kAttrUidGid = 0x02;
constexpr std::uint32_t kAttrPermissions = 0x04;
constexpr std::uint32_t kAttrTimes = 0x08;
constexpr std::uint32_t kAttrExtended = 0x80000000u;

// The largest packet accepted from a server. OpenSSH's server never sends more than 256 KiB;
// other servers put whole folders into one NAME reply, so there is room for those.
constexpr std::uint32_t kMaxReplyLength = 4u * 1024 * 1024;
// Longest handle version 3 allows.
constexpr std::size_t kMaxHandleLength = 256;

// A file's details; each one only when the server sent it.
struct Attributes
{
    std::optional<std::uint64_t> size;
    std::optional<std::uint32_t> uid;
    std::optional<std::uint32_t> gid;
    std::optional<std::uint32_t> permissions; // mode bits, file type included
    std::optional<std::uint32_t> accessTime;  // seconds since 1970, UTC
    std::optional<std::uint32_t> modifyTime;

    bool isFolder() const;
    bool isLink() const;
    bool isRegular() const;
};

// One entry of a listing or of a resolved path.
struct NameEntry
{
    std::string name;     // bytes as the server sent them, no character set assumed
    std::string longName; // the server's ls -l style line, for show only
    Attributes attributes;
};

// Any reply to a request; the fields of its type are filled.
struct Reply
{
    PacketType type = PacketType::Status;
    std::uint32_t id = 0;
    std::uint32_t statusCode = kStatusOk; // Status
    std::string message;                  // Status
    std::string handle;                   // Handle
    std::string data;                     // Data; the raw payload of ExtendedReply
    std::vector<NameEntry> names;         // Name
    Attributes attributes;                // Attrs
};

// The server's answer to INIT: its version and the extensions it offers.
struct VersionReply
{
    std::uint32_t version = 0;
    std::vector<std::pair<std::string, std::string>> extensions;
};

// The reply that starts at `packet` (after the four length bytes): true and `reply` filled, or
// false with `error` saying what was wrong. Never reads outside the span.
bool parseReply(std::span<const std::uint8_t> packet, Reply& reply, std::string& error);
bool parseVersion(std::span<const std::uint8_t> packet, VersionReply& version, std::string& error);

// limits@openssh.com's reply payload: the largest packet, read and write lengths and the number
// of open handles the server allows (0 = no limit).
struct ServerLimits
{
    std::uint64_t maxPacketLength = 0;
    std::uint64_t maxReadLength = 0;
    std::uint64_t maxWriteLength = 0;
    std::uint64_t maxOpenHandles = 0;
};
bool parseLimits(std::string_view payload, ServerLimits& limits);

// statvfs@openssh.com's reply payload, the numbers a free-space display needs.
struct FileSystemSpace
{
    std::uint64_t blockSize = 0;
    std::uint64_t fragmentSize = 0;
    std::uint64_t blocks = 0;
    std::uint64_t freeBlocks = 0;
    std::uint64_t availableBlocks = 0;
};
bool parseStatvfs(std::string_view payload, FileSystemSpace& space);

// A name a listing may hand out as one entry of its folder: not empty, not "." or "..", and no
// '/' or NUL that would make it a path or cut it short when it is used to build one.
bool isPlainName(std::string_view name);

// Requests. Each returns the whole packet, length prefix included.
std::string encodeInit(std::uint32_t version);
std::string encodePath(PacketType type, std::uint32_t id, std::string_view path);
std::string encodeOpen(std::uint32_t id, std::string_view path, std::uint32_t flags,
                       std::optional<std::uint32_t> permissions);
std::string encodeHandle(PacketType type, std::uint32_t id, std::string_view handle);
std::string encodeRead(std::uint32_t id, std::string_view handle, std::uint64_t offset,
                       std::uint32_t length);
std::string encodeWrite(std::uint32_t id, std::string_view handle, std::uint64_t offset,
                        std::string_view data);
std::string encodeMkdir(std::uint32_t id, std::string_view path, std::uint32_t permissions);
std::string encodeRename(std::uint32_t id, std::string_view from, std::string_view to);
std::string encodeSetTimes(std::uint32_t id, std::string_view path, std::uint32_t accessTime,
                           std::uint32_t modifyTime);
// An extension request: the name, then the strings of its arguments.
std::string encodeExtended(std::uint32_t id, std::string_view name,
                           std::initializer_list<std::string_view> arguments);

} // namespace sftp
