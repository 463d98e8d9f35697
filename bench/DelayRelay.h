#pragma once
// The delaying relay inside a benchmark: started on a free port of 127.0.0.1 in a thread of its
// own, stopped (and its connections closed) when this object ends.
#include "relay/Relay.h"

#include <string>
#include <thread>

class DelayRelay
{
public:
    DelayRelay() = default;
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;
    ~DelayRelay() { stop(); }

    // Relays to 127.0.0.1:targetPort with `rttMs` added to every round trip; `ftp` carries
    // the passive data connections of a plain FTP control connection too.
    bool start(std::uint16_t targetPort, double rttMs, bool ftp, std::string* error = nullptr)
    {
        stop();
        relay::Options options;
        options.targetPort = targetPort;
        options.rttMs = rttMs;
        options.ftp = ftp;
        m_relay = std::make_unique<relay::Relay>(options);
        std::string message;
        if (!m_relay->open(message)) {
            if (error)
                *error = message;
            m_relay.reset();
            return false;
        }
        m_thread = std::thread([relay = m_relay.get()] { relay->run(); });
        return true;
    }
    std::uint16_t port() const { return m_relay ? m_relay->port() : 0; }
    std::int64_t window() const { return m_relay ? m_relay->window() : 0; }
    int connectionsOpened() const { return m_relay ? m_relay->connectionsOpened() : 0; }
    void stop()
    {
        if (!m_relay)
            return;
        m_relay->stop();
        m_thread.join();
        m_relay.reset();
    }

private:
    std::unique_ptr<relay::Relay> m_relay;
    std::thread m_thread;
};
