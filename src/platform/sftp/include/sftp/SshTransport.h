#pragma once
// OpenSSH's own client as the transport: `ssh -s <host> sftp` runs as a child process and the
// file-transfer packets go through its standard input and output. The user's ~/.ssh/config,
// agent, keys and known_hosts apply as for any ssh command. Its questions come back through
// the askpass channel; its error output is kept to explain a failure in plain words.
#include "sftp/Askpass.h"
#include "sftp/SftpLog.h"
#include "sftp/SftpTypes.h"
#include "sftp/SftpWait.h"

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace sftp {

// One running ssh: its pipes, its error output and the questions it asks.
class SshTransport
{
public:
    SshTransport() = default;
    SshTransport(const SshTransport&) = delete;
    SshTransport& operator=(const SshTransport&) = delete;
    ~SshTransport(); // ends ssh: input closed, then a bounded wait, then killed

    // Before start(): the server's key changed and the user explicitly accepted the new one
    // (`keyType`, `fingerprint`) in place of the known one. ssh then checks the server against
    // that key alone, and keepTrustedHostKey() replaces the old key in the user's known_hosts.
    void replaceChangedKey(std::string keyType, std::string fingerprint)
    {
        m_replacement = {std::move(keyType), std::move(fingerprint)};
    }
    // Where the packets queued and ssh's stages are logged; null: nowhere.
    void setLog(PacketLog* log) { m_log = log; }
    // Starts ssh; the log-on happens while the first packets are exchanged.
    bool start(const ConnectOptions& options, PromptHandler prompts, const CancelSignal* cancel,
               Error& error);

    void queue(std::string_view packet);
    void queue(std::string&& packet); // takes the packet without a copy
    std::size_t queuedBytes() const { return m_queued; }
    // Waits for the next whole packet (after its length) while sending what is queued and
    // answering ssh's questions. The span stays valid until the next call. `span` restarts
    // after each question, so the time the user takes to answer does not count.
    bool receive(std::span<const std::uint8_t>& packet, std::chrono::milliseconds span,
                 Error& error);
    // Sends what is queued without waiting for a reply.
    bool flush(std::chrono::milliseconds span, Error& error);

    // After the log-on: copies a host key the user chose to trust always from this
    // connection's private list into the user's known_hosts, in ssh's own format.
    void keepTrustedHostKey();
    // Why keepTrustedHostKey() could not write the user's known_hosts; kind None when it did.
    // The user is told at once through the prompts (PromptKind::Notice).
    const Error& keepError() const { return m_keepError; }
    const std::string& sshErrors() const { return m_errors; }
    bool running() const { return m_pid > 0; }
    void stop();

private:
    enum class Wait { Packet, Flushed };
    bool pump(Wait until, std::chrono::milliseconds span, Error& error);
    bool havePacket(Error& error) const;
    bool readOutput(Error& error);
    bool sendQueued(); // false: ssh is gone
    void readErrors();
    Error endedError();
    void reap(std::chrono::milliseconds span);
    PromptAnswer acceptReplacement(const PromptRequest& request) const;
    void noteQuestion(const PromptRequest& asked, const PromptAnswer& answer) const;
    void tellKeyNotKept(const std::string& file, const std::string& why);

    struct AcceptedKey
    {
        std::string keyType;
        std::string fingerprint; // empty: no replacement
    };

    ConnectOptions m_options;
    PromptHandler m_prompts;
    const CancelSignal* m_cancel = nullptr;
    PacketLog* m_log = nullptr;
    AskpassChannel m_askpass;
    std::vector<std::string> m_userKnownHosts;
    std::string m_knownHostsName;
    AcceptedKey m_replacement;
    Error m_keepError;
    bool m_trustAlways = false;
    pid_t m_pid = -1;
    UniqueFd m_toSsh;
    UniqueFd m_fromSsh;
    UniqueFd m_sshErrors;
    std::deque<std::string> m_out; // packets queued for ssh
    std::size_t m_outPos = 0;      // bytes of the first one ssh took
    std::size_t m_queued = 0;      // bytes queued in all
    std::vector<std::uint8_t> m_in;
    std::size_t m_inPos = 0;    // the first byte not handed out
    std::size_t m_inEnd = 0;    // the end of what was read
    std::size_t m_consumed = 0; // bytes of the packet last handed out
    std::string m_errors;
};

} // namespace sftp
