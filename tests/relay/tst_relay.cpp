#include "DelayRelay.h"
#include "FtpServerFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The benchmarks' delaying relay in FTP mode: what a client lists, fetches and sends through it
// arrives whole, over both kinds of passive data connection, a round trip later than without it.
namespace {

// A blocking socket to 127.0.0.1 that gives up on a read after 10 s.
class Connection
{
public:
    explicit Connection(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval timeout{10, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Connection() { close(); }
    bool isOpen() const { return m_fd >= 0; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool send(const QByteArray& bytes)
    {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // The last line of the next reply (multi-line replies end with "ddd ").
    QByteArray reply()
    {
        for (;;) {
            const qsizetype end = m_buffer.indexOf('\n');
            if (end >= 0) {
                const QByteArray line = m_buffer.left(end + 1);
                m_buffer.remove(0, end + 1);
                if (line.size() >= 4 && line[3] == ' ')
                    return line.trimmed();
                continue;
            }
            char chunk[4096];
            const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                return "(connection ended) " + m_buffer;
            m_buffer.append(chunk, got);
        }
    }
    QByteArray command(const QByteArray& line)
    {
        return send(line + "\r\n") ? reply() : QByteArray("(send failed)");
    }
    QByteArray readAll()
    {
        QByteArray all;
        char chunk[65536];
        for (ssize_t got; (got = ::recv(m_fd, chunk, sizeof chunk, 0)) > 0;)
            all.append(chunk, got);
        return all;
    }

private:
    int m_fd = -1;
    QByteArray m_buffer;
};

// The data port a 227 or 229 reply names, and the host of a 227 one.
quint16 passivePort(const QByteArray& reply, QByteArray* host)
{
    const qsizetype open = reply.indexOf('('), close = reply.indexOf(')');
    const QByteArray inside = reply.mid(open + 1, close - open - 1);
    if (reply.startsWith("229 "))
        return quint16(inside.mid(3, inside.size() - 4).toUInt());
    const QList<QByteArray> numbers = inside.split(',');
    if (!reply.startsWith("227 ") || numbers.size() != 6)
        return 0;
    *host = numbers.mid(0, 4).join('.');
    return quint16(numbers[4].toUInt() * 256 + numbers[5].toUInt());
}

QByteArray patterned(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 23);
    }
    return bytes;
}

} // namespace

class TestRelay : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    FtpServerFixture m_server;
    QByteArray m_file = patterned(3 * 1024 * 1024 + 17);

    // One data connection through the relay for `command`: what it brought, with `upload` sent.
    QByteArray transfer(Connection& control, const QByteArray& mode, const QByteArray& command,
                        const QByteArray& upload = {})
    {
        const QByteArray reply = control.command(mode);
        QByteArray host = "127.0.0.1";
        const quint16 port = passivePort(reply, &host);
        if (port == 0 || host != "127.0.0.1")
            return "bad passive reply: " + reply;
        Connection data(port);
        const QByteArray started = control.command(command);
        if (!started.startsWith("150") && !started.startsWith("125"))
            return "not started: " + started;
        QByteArray got;
        if (upload.isEmpty())
            got = data.readAll();
        else
            data.send(upload);
        data.close();
        const QByteArray done = control.reply();
        return done.startsWith("226") ? got : "not finished: " + done;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile file(m_root.filePath("data.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_file) == m_file.size());
        file.close();
        QVERIFY2(m_server.start(m_root.path()), qPrintable(m_server.errorOutput()));
    }

    void carriesListingAndFilesWithTheRoundTripAdded_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("rttMs");
        QTest::newRow("EPSV, no delay") << QByteArray("EPSV") << 0;
        QTest::newRow("PASV, no delay") << QByteArray("PASV") << 0;
        QTest::newRow("EPSV, 80 ms") << QByteArray("EPSV") << 80;
        QTest::newRow("PASV, 80 ms") << QByteArray("PASV") << 80;
    }

    void carriesListingAndFilesWithTheRoundTripAdded()
    {
        QFETCH(QByteArray, mode);
        QFETCH(int, rttMs);
        DelayRelay relay;
        std::string error;
        QVERIFY2(relay.start(m_server.port(), rttMs, true, &error), error.c_str());
        Connection control(relay.port());
        QVERIFY(control.isOpen());
        QVERIFY(control.reply().startsWith("220"));
        QVERIFY(control.command("USER user").startsWith("331"));
        QVERIFY(control.command("PASS secret").startsWith("230"));

        // Every round trip takes the delay: never less, and not much more on a busy machine.
        qint64 fastest = 1'000'000;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer timer;
            timer.start();
            QVERIFY(control.command("NOOP").startsWith("200"));
            const qint64 ms = timer.elapsed();
            QVERIFY2(ms >= rttMs, qPrintable(QString::number(ms)));
            fastest = std::min(fastest, ms);
        }
        QVERIFY2(fastest < rttMs + 40, qPrintable(QString::number(fastest)));

        QVERIFY(control.command("TYPE I").startsWith("200"));
        const QByteArray listing = transfer(control, mode, "LIST");
        QVERIFY2(listing.contains(" data.bin\r\n"), listing.constData());
        const QByteArray fetched = transfer(control, mode, "RETR data.bin");
        QCOMPARE(fetched.size(), m_file.size());
        QVERIFY(fetched == m_file);
        QVERIFY(transfer(control, mode, "STOR up.bin", m_file).isEmpty());
        QFile sent(m_root.filePath("up.bin"));
        QVERIFY(sent.open(QIODevice::ReadOnly));
        QVERIFY(sent.readAll() == m_file);
        sent.remove();

        // Active mode would go around the relay: it answers itself, and says why.
        QCOMPARE(control.command("PORT 127,0,0,1,4,1"),
                 QByteArray("502 The delaying relay carries passive data connections only: "
                            "PORT and EPRT are refused, use PASV or EPSV."));
        QVERIFY(control.command("QUIT").startsWith("221"));
        // The control connection and the three data connections all went through it.
        QCOMPARE(relay.connectionsOpened(), 4);
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
