#pragma once
// What the file-transfer engine's callers hand in and get back: the connection's options, its
// deadlines, the prompts ssh asks through us, and the error a failed call leaves.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sftp {

enum class ErrorKind {
    None,
    Cancelled,      // the caller's cancel() or a prompt answered with cancel
    Timeout,        // a deadline passed
    HostKeyChanged, // the server's key differs from the known one: stopped before log-on
    HostKeyRefused, // first contact and the key was not trusted
    LogOnFailed,    // wrong password, passphrase or key
    ConnectFailed,  // no connection to the host (refused, unknown name, no route, ...)
    Protocol,       // the server broke the protocol; the connection is unusable
    ConnectionLost, // ssh ended or the channel closed
    Server,         // the server answered with a status code: `statusCode` and `serverMessage`
    Local,          // a local error (fork, pipe, file)
};

// Why a call failed, for the user and for the caller's decisions.
struct Error
{
    ErrorKind kind = ErrorKind::None;
    std::uint32_t statusCode = 0; // the server's status for ErrorKind::Server
    std::string serverMessage;    // the server's own text with the status, possibly empty
    std::string text;             // plain words for the user: what happened and why
    std::string keyType;          // HostKeyChanged: the key the server sent now
    std::string fingerprint;      // HostKeyChanged: its SHA256 fingerprint
};

inline Error makeError(ErrorKind kind, std::string text)
{
    Error error;
    error.kind = kind;
    error.text = std::move(text);
    return error;
}

// The waits of one connection; tests shorten them.
struct Timeouts
{
    std::chrono::milliseconds connect{30000}; // ssh start to the version reply, prompts excluded
    std::chrono::milliseconds reply{30000};   // any request to its reply
    std::chrono::milliseconds close{2000};    // ssh's exit after its input is closed
};

// Lets another thread cut every wait short: once raised, the waits that watch it fail with
// ErrorKind::Cancelled until it is cleared.
class CancelSignal
{
public:
    CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;
    ~CancelSignal();

    void raise(); // safe from any thread
    void clear();
    bool raised() const { return m_raised.load(); }
    int fd() const { return m_readFd; } // readable while raised

private:
    int m_readFd = -1;
    int m_writeFd = -1;
    std::atomic<bool> m_raised{false};
};

enum class PromptKind {
    Password,      // the account's password
    KeyPassphrase, // the passphrase of a key file
    HostKey,       // first contact: trust the server's key?
    // The server's key differs from the known one (text: the warning, keyType, fingerprint:
    // the new key). Only HostKeyTrust::Replace goes on; ssh has sent nothing yet.
    HostKeyChanged,
    Text,    // any other question of the server (two-factor codes and the like)
    Confirm, // a yes/no question (a hardware key's touch, an agent's confirmation)
    Notice,  // something the user must be told (text); nothing is asked, the answer is ignored
};

// Replace answers HostKeyChanged alone: the new key takes the old one's place in known_hosts.
// A handler that answers Once or Always to every key question never accepts a changed key.
enum class HostKeyTrust { Cancel, Once, Always, Replace };

// A question ssh asks during log-on, as the caller shows it.
struct PromptRequest
{
    PromptKind kind = PromptKind::Text;
    std::string text;        // ssh's prompt as it would show it
    std::string keyType;     // HostKey, HostKeyChanged: "ED25519", "RSA", ...
    std::string fingerprint; // HostKey, HostKeyChanged: "SHA256:..."
    int attempt = 1;         // how often this kind was asked on this connection
};

// The caller's answer; cancelled ends the log-on.
struct PromptAnswer
{
    bool cancelled = true;
    std::string text;                          // the password, passphrase or reply
    HostKeyTrust trust = HostKeyTrust::Cancel; // HostKey and HostKeyChanged only
};

using PromptHandler = std::function<PromptAnswer(const PromptRequest&)>;

// Where and as whom to connect, and how long to wait.
struct ConnectOptions
{
    std::string host;       // a host name, address or ~/.ssh/config alias
    std::uint16_t port = 0; // 0: whatever ssh's configuration says (22 by default)
    std::string user;       // empty: whatever ssh's configuration says
    std::string keyFile;    // empty: ssh's configuration and the agent
    int serverAliveSeconds = 15;
    std::string configFile; // empty: the user's ~/.ssh/config; tests give /dev/null
    std::string sshProgram = "ssh";
    std::string askpassProgram;            // empty: this executable, which calls runAskpassHelper()
    std::vector<std::string> extraOptions; // more "-o" values, e.g. a test's known_hosts file
    Timeouts timeouts;
};

} // namespace sftp
