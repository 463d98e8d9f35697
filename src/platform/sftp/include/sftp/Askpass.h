#pragma once
// The private channel between the running program and the askpass helper ssh starts for each
// question: a Unix socket in a folder only this user can enter, and a one-time token the
// helper must present. Passwords travel only over this socket, never on a command line, in
// the environment or in a file.
#include "sftp/SftpTypes.h"
#include "sftp/SftpWait.h"

#include <map>
#include <string>

namespace sftp {

// The environment variables that make this program an askpass helper.
constexpr const char* kAskpassSocketVariable = "ZULFTP_ASKPASS_SOCKET";
constexpr const char* kAskpassTokenVariable = "ZULFTP_ASKPASS_TOKEN";

// The program's end: owns the 0700 folder (which also holds the connection's list of keys
// trusted once) and the listening socket; removes both when destroyed.
class AskpassChannel
{
public:
    AskpassChannel() = default;
    AskpassChannel(const AskpassChannel&) = delete;
    AskpassChannel& operator=(const AskpassChannel&) = delete;
    ~AskpassChannel();

    bool open(Error& error);
    int listenFd() const { return m_listen.get(); }
    const std::string& folder() const { return m_folder; }
    const std::string& socketPath() const { return m_socketPath; }
    const std::string& token() const { return m_token; }

    // Answers the helper waiting on the socket: reads its question, asks `handler` and sends
    // the answer back. The request that was asked is returned in `asked` (kind and text);
    // false when the caller cancelled the question or the helper was not ours.
    bool serveOne(const PromptHandler& handler, const CancelSignal* cancel, PromptRequest& asked,
                  PromptAnswer& answer);

private:
    std::string m_folder;
    std::string m_socketPath;
    std::string m_token;
    UniqueFd m_listen;
    std::map<PromptKind, int> m_attempts;
};

// The helper's end. Returns -1 when this process was not started as ssh's askpass program
// (main() then goes on as usual), otherwise the exit status for main() to return: 0 with the
// answer on standard output, 1 when the question was cancelled or the program is gone.
int runAskpassHelper(int argc, char** argv);

} // namespace sftp
