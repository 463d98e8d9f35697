#include "sftp/SftpClient.h"

#include <algorithm>

namespace sftp {
namespace {

constexpr std::uint32_t kVersion = 3;
// What OpenSSH's server sends in one READ at most, less room for the headers; larger reads
// only when the server says through limits@openssh.com that it takes them.
constexpr std::uint64_t kLargestChunk = 255 * 1024;

std::string quoted(std::string_view path)
{
    std::string text = "\"";
    for (char c : path.substr(0, 400))
        text += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    return text + "\"";
}

} // namespace

std::string describeStatus(std::uint32_t code)
{
    switch (code) {
    case kStatusOk:
        return "success";
    case kStatusEof:
        return "end of file";
    case kStatusNoSuchFile:
        return "no such file or folder";
    case kStatusPermissionDenied:
        return "permission denied";
    case kStatusFailure:
        return "the server's operation failed";
    case kStatusBadMessage:
        return "the server did not understand the request";
    case kStatusNoConnection:
    case kStatusConnectionLost:
        return "the connection was lost";
    case kStatusOpUnsupported:
        return "the server does not support this operation";
    default:
        return "status " + std::to_string(code);
    }
}

SftpClient::SftpClient() = default;

SftpClient::~SftpClient()
{
    disconnect();
}

bool SftpClient::fail(ErrorKind kind, std::string text)
{
    m_error = Error{};
    m_error.kind = kind;
    m_error.text = std::move(text);
    return false;
}

bool SftpClient::failStatus(const Reply& reply, std::string_view path, std::string_view what)
{
    m_error = Error{};
    m_error.kind = ErrorKind::Server;
    m_error.statusCode = reply.statusCode;
    m_error.serverMessage = reply.message;
    std::string why = reply.message.empty() ? describeStatus(reply.statusCode) : reply.message;
    for (char& c : why)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    m_error.text =
        std::string(what) + " " + quoted(path) + " on " + m_host + " failed: " + why + ".";
    return false;
}

bool SftpClient::startSsh(const ConnectOptions& options, const PromptHandler& prompts,
                          const PromptRequest* replacing, std::span<const std::uint8_t>& version)
{
    m_transport = std::make_unique<SshTransport>();
    m_transport->setLog(&m_log);
    if (replacing)
        m_transport->replaceChangedKey(replacing->keyType, replacing->fingerprint);
    if (!m_transport->start(options, prompts, &m_cancel, m_error)) {
        m_transport.reset();
        return false;
    }
    m_transport->queue(encodeInit(kVersion));
    const bool answered = m_transport->receive(version, m_timeouts.connect, m_error);
    // Whatever the outcome, a host key the user chose to trust always is kept.
    m_transport->keepTrustedHostKey();
    if (!answered)
        m_transport.reset();
    return answered;
}

bool SftpClient::connect(const ConnectOptions& options, PromptHandler prompts)
{
    disconnect();
    m_log.attach();
    m_host = options.host;
    m_timeouts = options.timeouts;
    std::span<const std::uint8_t> packet;
    bool answered = startSsh(options, prompts, nullptr, packet);
    // ssh stopped at a changed key before it sent anything. The user sees the warning with the
    // new key; only an explicit "replace" lets a second ssh go on, with that key alone.
    if (!answered && m_error.kind == ErrorKind::HostKeyChanged && !m_error.fingerprint.empty() &&
        prompts) {
        PromptRequest changed;
        changed.kind = PromptKind::HostKeyChanged;
        changed.text = m_error.text;
        changed.keyType = m_error.keyType;
        changed.fingerprint = m_error.fingerprint;
        const PromptAnswer answer = prompts(changed);
        if (!answer.cancelled && answer.trust == HostKeyTrust::Replace)
            answered = startSsh(options, prompts, &changed, packet);
    }
    if (!answered)
        return false;
    VersionReply version;
    std::string parseError;
    if (!parseVersion(packet, version, parseError) || version.version < kVersion) {
        m_transport.reset();
        return fail(ErrorKind::Protocol,
                    m_host + " does not speak a file-transfer protocol this program knows" +
                        (parseError.empty() ? "." : ": " + parseError));
    }
    m_extensions = std::move(version.extensions);
    m_log.note("Logged on; the server speaks version " + std::to_string(version.version) +
               " with " + std::to_string(m_extensions.size()) + " extension(s)");
    requestsInFlight = 64;
    readLength = writeLength = 32 * 1024;
    if (hasExtension("limits@openssh.com")) {
        Reply reply;
        const std::uint32_t id = nextId();
        if (call(encodeExtended(id, "limits@openssh.com", {}), id, reply) &&
            reply.type == PacketType::ExtendedReply && parseLimits(reply.data, m_limits)) {
            const auto fit = [](std::uint64_t limit, std::uint32_t fallback) {
                return limit == 0 ? fallback
                                  : static_cast<std::uint32_t>(std::min(limit, kLargestChunk));
            };
            readLength = fit(m_limits.maxReadLength, readLength);
            writeLength = fit(m_limits.maxWriteLength, writeLength);
        }
    }
    m_error = Error{};
    return true;
}

void SftpClient::disconnect()
{
    m_transport.reset();
    m_abandoned.clear();
    m_extensions.clear();
    m_limits = ServerLimits{};
}

bool SftpClient::hasExtension(std::string_view name) const
{
    return std::any_of(m_extensions.begin(), m_extensions.end(),
                       [&](const auto& extension) { return extension.first == name; });
}

bool SftpClient::send(std::string packet)
{
    if (!m_transport)
        return fail(ErrorKind::ConnectionLost, "Not connected to " + m_host + ".");
    m_transport->queue(std::move(packet));
    return true;
}

bool SftpClient::awaitAny(const std::set<std::uint32_t>& pending, Reply& reply)
{
    if (!m_transport)
        return fail(ErrorKind::ConnectionLost, "Not connected to " + m_host + ".");
    for (;;) {
        std::span<const std::uint8_t> packet;
        if (!m_transport->receive(packet, m_timeouts.reply, m_error)) {
            // A cancel leaves the connection usable; anything else ends it, so no stale
            // reply can ever answer a later request.
            if (m_error.kind != ErrorKind::Cancelled)
                m_transport.reset();
            return false;
        }
        std::string parseError;
        if (!parseReply(packet, reply, parseError)) {
            m_transport.reset();
            return fail(ErrorKind::Protocol, m_host + " broke the protocol: " + parseError);
        }
        m_log.reply(reply);
        if (pending.count(reply.id))
            return true;
        if (!m_abandoned.erase(reply.id)) {
            m_transport.reset();
            return fail(ErrorKind::Protocol,
                        m_host + " broke the protocol: it answered a request never sent.");
        }
    }
}

bool SftpClient::awaitPending(std::set<std::uint32_t>& pending, const std::string& handle,
                              Reply& reply)
{
    if (!awaitAny(pending, reply)) {
        if (m_error.kind == ErrorKind::Cancelled)
            abandon(pending, handle);
        return false;
    }
    pending.erase(reply.id);
    return true;
}

bool SftpClient::awaitReply(std::uint32_t id, Reply& reply)
{
    return awaitAny({id}, reply);
}

bool SftpClient::call(const std::string& packet, std::uint32_t id, Reply& reply)
{
    if (!send(packet))
        return false;
    if (awaitReply(id, reply))
        return true;
    if (m_error.kind == ErrorKind::Cancelled)
        m_abandoned.insert(id);
    return false;
}

bool SftpClient::expectStatus(const Reply& reply, std::string_view path, std::string_view what)
{
    if (reply.type != PacketType::Status) {
        m_transport.reset();
        return fail(ErrorKind::Protocol, m_host + " broke the protocol: " + std::string(what) +
                                             " " + quoted(path) +
                                             " got an answer of the wrong kind.");
    }
    return reply.statusCode == kStatusOk || failStatus(reply, path, what);
}

bool SftpClient::checkPath(std::string_view path)
{
    if (path.find('\0') == std::string_view::npos)
        return true;
    return fail(ErrorKind::Local, "The path " + quoted(path) + " holds a NUL byte.");
}

bool SftpClient::simpleCall(const std::string& packet, std::uint32_t id, std::string_view path,
                            std::string_view what)
{
    Reply reply;
    return checkPath(path) && call(packet, id, reply) && expectStatus(reply, path, what);
}

bool SftpClient::realPath(std::string_view path, std::string& resolved)
{
    Reply reply;
    const std::uint32_t id = nextId();
    if (!checkPath(path) || !call(encodePath(PacketType::Realpath, id, path), id, reply))
        return false;
    if (reply.type == PacketType::Status)
        return failStatus(reply, path, "Resolving");
    if (reply.type != PacketType::Name || reply.names.size() != 1 ||
        reply.names[0].name.find('\0') != std::string::npos)
        return fail(ErrorKind::Protocol, m_host + " gave no usable path for " + quoted(path) + ".");
    resolved = reply.names[0].name;
    return true;
}

bool SftpClient::attributesCall(PacketType type, std::string_view path, Attributes& attributes)
{
    Reply reply;
    const std::uint32_t id = nextId();
    if (!checkPath(path) || !call(encodePath(type, id, path), id, reply))
        return false;
    if (reply.type == PacketType::Status)
        return failStatus(reply, path, "Reading the details of");
    if (reply.type != PacketType::Attrs)
        return fail(ErrorKind::Protocol, m_host + " answered a stat with the wrong reply.");
    attributes = reply.attributes;
    return true;
}

bool SftpClient::stat(std::string_view path, Attributes& attributes)
{
    return attributesCall(PacketType::Stat, path, attributes);
}

bool SftpClient::lstat(std::string_view path, Attributes& attributes)
{
    return attributesCall(PacketType::Lstat, path, attributes);
}

bool SftpClient::openHandle(std::string_view path, std::uint32_t flags, std::string& handle)
{
    Reply reply;
    const std::uint32_t id = nextId();
    const bool folder = flags == 0;
    const std::string packet =
        folder ? encodePath(PacketType::Opendir, id, path) : encodeOpen(id, path, flags, 0644u);
    if (!checkPath(path) || !call(packet, id, reply))
        return false;
    if (reply.type == PacketType::Status)
        return failStatus(reply, path, folder ? "Opening the folder" : "Opening");
    if (reply.type != PacketType::Handle)
        return fail(ErrorKind::Protocol, m_host + " answered an open with the wrong reply.");
    handle = reply.handle;
    return true;
}

bool SftpClient::closeHandle(const std::string& handle, std::string_view path)
{
    const std::uint32_t id = nextId();
    return simpleCall(encodeHandle(PacketType::Close, id, handle), id, path, "Closing");
}

void SftpClient::abandon(const std::set<std::uint32_t>& pending, const std::string& handle)
{
    m_abandoned.insert(pending.begin(), pending.end());
    if (m_transport && !handle.empty()) {
        const std::uint32_t id = nextId();
        m_transport->queue(encodeHandle(PacketType::Close, id, handle));
        m_abandoned.insert(id);
    }
}

bool SftpClient::list(std::string_view path, std::vector<NameEntry>& entries, std::size_t& refused)
{
    entries.clear();
    refused = 0;
    std::string handle;
    if (!openHandle(path, 0, handle))
        return false;
    // Several READDIRs are kept in flight: the server answers them in turn, each with the next
    // batch, so a large folder costs one round trip per few batches instead of per batch.
    constexpr std::size_t kReadsInFlight = 8;
    std::set<std::uint32_t> pending;
    std::map<std::uint32_t, std::vector<NameEntry>> batches;
    bool ended = false;
    while (true) {
        while (!ended && pending.size() < kReadsInFlight) {
            const std::uint32_t id = nextId();
            send(encodeHandle(PacketType::Readdir, id, handle));
            pending.insert(id);
        }
        if (pending.empty())
            break;
        Reply reply;
        if (!awaitPending(pending, handle, reply))
            return false;
        if (reply.type == PacketType::Name) {
            batches[reply.id] = std::move(reply.names);
        } else if (reply.type == PacketType::Status && reply.statusCode == kStatusEof) {
            ended = true;
        } else if (reply.type == PacketType::Status) {
            abandon(pending, handle);
            return failStatus(reply, path, "Listing the folder");
        } else {
            m_transport.reset();
            return fail(ErrorKind::Protocol, m_host + " answered a listing with the wrong reply.");
        }
    }
    for (auto& [id, names] : batches) {
        for (NameEntry& entry : names) {
            if (entry.name == "." || entry.name == "..")
                continue;
            if (!isPlainName(entry.name)) {
                ++refused;
                continue;
            }
            entries.push_back(std::move(entry));
        }
    }
    return closeHandle(handle, path);
}

bool SftpClient::makeFolder(std::string_view path, std::uint32_t permissions)
{
    const std::uint32_t id = nextId();
    return simpleCall(encodeMkdir(id, path, permissions), id, path, "Making the folder");
}

bool SftpClient::removeFolder(std::string_view path)
{
    const std::uint32_t id = nextId();
    return simpleCall(encodePath(PacketType::Rmdir, id, path), id, path, "Removing the folder");
}

bool SftpClient::removeFile(std::string_view path)
{
    const std::uint32_t id = nextId();
    return simpleCall(encodePath(PacketType::Remove, id, path), id, path, "Deleting");
}

bool SftpClient::rename(std::string_view from, std::string_view to)
{
    if (!checkPath(to))
        return false;
    const std::uint32_t id = nextId();
    const std::string packet = hasExtension("posix-rename@openssh.com")
                                   ? encodeExtended(id, "posix-rename@openssh.com", {from, to})
                                   : encodeRename(id, from, to);
    return simpleCall(packet, id, from, "Renaming");
}

bool SftpClient::setModifyTime(std::string_view path, std::uint32_t modifyTime)
{
    const std::uint32_t id = nextId();
    return simpleCall(encodeSetTimes(id, path, modifyTime, modifyTime), id, path,
                      "Setting the time of");
}

bool SftpClient::freeSpace(std::string_view path, FileSystemSpace& space)
{
    if (!hasExtension("statvfs@openssh.com"))
        return fail(ErrorKind::Server, m_host + " cannot tell its free space.");
    Reply reply;
    const std::uint32_t id = nextId();
    if (!checkPath(path) || !call(encodeExtended(id, "statvfs@openssh.com", {path}), id, reply))
        return false;
    if (reply.type == PacketType::Status)
        return failStatus(reply, path, "Reading the free space of");
    if (reply.type != PacketType::ExtendedReply || !parseStatvfs(reply.data, space))
        return fail(ErrorKind::Protocol, m_host + " sent a malformed free-space reply.");
    return true;
}

} // namespace sftp
