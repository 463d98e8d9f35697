#pragma once
// The one poll() of the engine: every wait has a deadline and watches the cancel signal.
#include "sftp/SftpTypes.h"

#include <chrono>
#include <poll.h>
#include <unistd.h>

namespace sftp {

// The moment a wait gives up.
class Deadline
{
public:
    static Deadline after(std::chrono::milliseconds span)
    {
        Deadline deadline;
        deadline.m_end = std::chrono::steady_clock::now() + span;
        return deadline;
    }
    bool expired() const { return std::chrono::steady_clock::now() >= m_end; }
    int remainingMs() const
    {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(m_end - std::chrono::steady_clock::now());
        return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
    }

private:
    std::chrono::steady_clock::time_point m_end;
};

// An owned file descriptor, closed on every path.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

} // namespace sftp
