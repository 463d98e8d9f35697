#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// One of the Python test servers beside this file: it prints its port on standard output once
// its listening socket is open, and ends when its standard input closes (so it also ends when
// the test process dies).
class ServerProcess
{
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess();

    // Runs `script` with `arguments` and waits (up to 15 s) for its port; 0 when it failed.
    quint16 start(const QString& script, const QStringList& arguments);
    void stop();
    bool isRunning() const;
    // What the server wrote to stderr so far, for failure messages.
    QString errorOutput();

private:
    std::unique_ptr<QProcess> m_process;
};
