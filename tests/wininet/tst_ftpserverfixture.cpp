#include "FtpServerFixture.h"

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// The fixture other tests rely on: it must really serve, and really go away.
class TestFtpServerFixture : public QObject
{
    Q_OBJECT

private:
    // The first line the server sends on a fresh connection, or nothing when none is open.
    static QByteArray greeting(quint16 port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QByteArray line;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            pollfd waiter{fd, POLLIN, 0};
            char buffer[512];
            if (::poll(&waiter, 1, 5000) == 1) {
                const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                if (got > 0)
                    line = QByteArray(buffer, static_cast<int>(got));
            }
        }
        ::close(fd);
        return line;
    }

private Q_SLOTS:
    void startsOnAFreePortAndGreets()
    {
        QTemporaryDir root;
        FtpServerFixture server;
        QVERIFY(server.start(root.path()));
        QVERIFY(server.port() != 0);
        QVERIFY(greeting(server.port()).startsWith("220 "));
    }

    void stopClosesTheListeningPort()
    {
        QTemporaryDir root;
        FtpServerFixture server;
        QVERIFY(server.start(root.path()));
        const quint16 port = server.port();
        server.stop();
        QVERIFY(!server.isRunning());
        QVERIFY(greeting(port).isEmpty());
    }

    void twoServersRunSideBySide()
    {
        QTemporaryDir root;
        FtpServerFixture first;
        FtpServerFixture second;
        QVERIFY(first.start(root.path()));
        QVERIFY(second.start(root.path(), {.mlsd = false}));
        QVERIFY(first.port() != second.port());
        QVERIFY(greeting(second.port()).startsWith("220 "));
    }

    void missingInterpreterFailsToStart()
    {
        QTemporaryDir root;
        qputenv("ZULFTP_PYTHON", "/nonexistent/python");
        FtpServerFixture server;
        const bool started = server.start(root.path());
        qputenv("ZULFTP_PYTHON", "/usr/bin/python3");
        QVERIFY(!started);
        QCOMPARE(server.port(), quint16(0));
    }
};

QTEST_GUILESS_MAIN(TestFtpServerFixture)
#include "tst_ftpserverfixture.moc"
