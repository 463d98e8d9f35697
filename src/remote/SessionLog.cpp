#include "remote/SessionLog.h"

#include "sftp/SftpLog.h"
#include "wininet.h"

namespace {

struct Target
{
    SessionLogLine log = nullptr;
    void* context = nullptr;
};

// One per thread, as the engine keeps one callback per thread: the engine's call carries
// this thread's target to whichever thread runs the connection.
thread_local Target target;

void forward(void* context, BOOL sent, const char* line, DWORD length)
{
    const auto* to = static_cast<const Target*>(context);
    to->log(to->context, sent != FALSE, line, length);
}

// An SSH connection keeps the target it was opened with, which may have been stopped since.
void forwardSsh(void* context, bool sent, const char* line, std::size_t length)
{
    const auto* to = static_cast<const Target*>(context);
    if (to->log)
        to->log(to->context, sent, line, length);
}

} // namespace

void LogSessionsOfThisThread(SessionLogLine log, void* context)
{
    target = Target{log, context};
    FtpSetThreadLogCallback(log ? &forward : nullptr, log ? &target : nullptr);
    sftp::setThreadLog(log ? &forwardSsh : nullptr, &target);
}
