#include "InternetTimeouts.h"

#include <atomic>

namespace wininet {
namespace {
std::atomic<DWORD> connectTimeout{kDefaultConnectTimeoutMs};
std::atomic<DWORD> receiveTimeout{kDefaultReceiveTimeoutMs};
std::atomic<DWORD> sendTimeout{kDefaultSendTimeoutMs};
} // namespace

DWORD connectTimeoutMs()
{
    return connectTimeout.load();
}

DWORD receiveTimeoutMs()
{
    return receiveTimeout.load();
}

DWORD sendTimeoutMs()
{
    return sendTimeout.load();
}

void setConnectTimeoutMs(DWORD milliseconds)
{
    connectTimeout.store(milliseconds);
}

void setReceiveTimeoutMs(DWORD milliseconds)
{
    receiveTimeout.store(milliseconds);
}

void setSendTimeoutMs(DWORD milliseconds)
{
    sendTimeout.store(milliseconds);
}

} // namespace wininet
