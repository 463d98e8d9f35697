#pragma once
#include "ServerProcess.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The scriptable misbehaving FTP server (faultserver.py beside this file) on 127.0.0.1. The
// script says how to answer each command (see the script's header for its keys); every
// command the server received can be read back in order.
class FaultServer
{
public:
    FaultServer() = default;
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;
    ~FaultServer();

    bool start(const QJsonObject& script);
    void stop();
    quint16 port() const { return m_port; }
    QString host() const { return "127.0.0.1"; }
    // Every line received so far, in order ("USER user", "PASV", ...), plus "STORED name n"
    // after each upload the server read to its end ("APPENDED name n" after an APPE).
    QStringList received() const;

private:
    ServerProcess m_server;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
};
