#pragma once
#include <cstddef>

// The conversation of the connections a thread opens, for the message log: each command sent
// (`sent` true; a password as "****") and each reply line received, on whichever thread the
// connection is used. A later call (a null `log` stops logging) applies to the connections the
// thread opened before as well; the context and the thread must outlive those connections.
// SSH sessions log their requests and replies as short lines, a transfer as its start and
// end, and ssh's own stages.
using SessionLogLine = void (*)(void* context, bool sent, const char* line, std::size_t length);
void LogSessionsOfThisThread(SessionLogLine log, void* context);
