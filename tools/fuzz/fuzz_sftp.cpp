// The file-transfer protocol's replies, and what OpenSSH's client says (its prompts and its
// error output), both read from a hostile or confused peer.
#include "FuzzCheck.h"
#include "sftp/SftpPacket.h"
#include "sftp/SshDiagnostics.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::span<const std::uint8_t> packet(data, size);
    sftp::Reply reply;
    std::string error;
    if (sftp::parseReply(packet, reply, error)) {
        // Nothing parsed is bigger than the packet it came from.
        FUZZ_CHECK(reply.handle.size() <= sftp::kMaxHandleLength);
        FUZZ_CHECK(reply.data.size() + reply.message.size() <= size);
        FUZZ_CHECK(reply.names.size() <= size / 12);
        std::size_t names = 0;
        for (const sftp::NameEntry& entry : reply.names)
            names += entry.name.size() + entry.longName.size();
        FUZZ_CHECK(names <= size);
    } else {
        FUZZ_CHECK(!error.empty());
    }
    sftp::VersionReply version;
    if (sftp::parseVersion(packet, version, error))
        FUZZ_CHECK(version.extensions.size() <= 256);
    for (const sftp::NameEntry& entry : reply.names) {
        if (sftp::isPlainName(entry.name)) {
            FUZZ_CHECK(entry.name.find('/') == std::string::npos);
            FUZZ_CHECK(entry.name.find('\0') == std::string::npos);
            FUZZ_CHECK(entry.name != "..");
        }
    }

    const std::string_view text = fuzzInput(data, size);
    const sftp::PromptRequest prompt = sftp::classifyPrompt(text, "");
    FUZZ_CHECK(prompt.fingerprint.empty() || prompt.fingerprint.rfind("SHA256:", 0) == 0);
    FUZZ_CHECK(prompt.keyType.size() <= size);
    std::string keyType;
    std::string fingerprint;
    if (sftp::parseChangedHostKey(text, keyType, fingerprint)) {
        FUZZ_CHECK(fingerprint.rfind("SHA256:", 0) == 0 && fingerprint.size() <= 7 + 64);
        FUZZ_CHECK(keyType.size() <= 32);
    }
    const sftp::Error failure = sftp::describeSshFailure(text, "host");
    FUZZ_CHECK(!failure.text.empty() && failure.text.size() <= 1000);
    return 0;
}
