// The main window with a stored SFTP site, against OpenSSH's sshd: connecting with the host-key
// question, and every remote command of the browsing pane over the SSH session.
#include "SshServer.h"

#include "ScriptedPrompter.h"
#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "ftp/FtpConnection.h"
#include "remote/TrustedThisRun.h"
#include "sites/ProfileStore.h"
#include "transfer/ui/MsgForm.h"

#include <QDir>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QtTest>

namespace {

int rowNamed(const FileListModel& model, const QString& name)
{
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.row(i).name == name)
            return i;
    }
    return -1;
}

} // namespace

class TestSftpWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("ZULFTP_HOME", m_home.path().toUtf8());
        const QString reason = SshServer::unavailableReason(SshServer::Kind::OpenSsh);
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
        QVERIFY2(m_sshd.start(SshServer::Kind::OpenSsh, m_served.path()),
                 qPrintable(m_sshd.errorText()));
        QVERIFY(writeFile(m_served.filePath(QStringLiteral("a.txt")), "a"));
        m_sshd.handOver(m_served.path());
    }

    void init() { TrustedThisRun::forgetAll(); }
    void cleanup() { FtpConnection = TFtpConnection(); }

    void storedSiteBrowsesOverSsh()
    {
        SiteProfile site{"Ssh",         "127.0.0.1", QString::number(m_sshd.port()),
                         m_sshd.user(), QString(),   m_sshd.serverPath(m_served.path())};
        site.protocol = QString::fromLatin1(kProtocolSftp);
        QVERIFY(ProfileStore(ProfileFilePath()).write(site));
        sftp::ConnectOptions options;
        options.configFile = "/dev/null";
        options.askpassProgram = ZUL_SFTP_ASKPASS;
        options.keyFile = m_sshd.clientKey().toStdString();
        options.extraOptions = {
            "UserKnownHostsFile=" + m_home.filePath("known_hosts").toStdString(),
            "GlobalKnownHostsFile=/dev/null", "IdentityAgent=none", "IdentitiesOnly=yes"};

        ScriptedPrompter prompter;
        prompter.setIgnoreBeeps(true);
        TfrmMain w(prompter);
        TfrmMsg msg(&w);
        w.setMsgForm(&msg);
        w.setSshOptions(options);
        Settings.LastSite = QStringLiteral("Ssh");
        // A server never seen before: its key is shown and trusted for this connection only,
        // the connect progress dialog out of the way while the question shows.
        QStringList behind;
        prompter.setWhileAsking([&](PromptKind) {
            if (msg.isVisible())
                behind.append(msg.message());
        });
        prompter.expectCertificate(false, CertificateAnswer::TrustOnce);
        w.btnConnectClick();
        QVERIFY(prompter.verifyDone());
        QCOMPARE(behind, QStringList());
        prompter.setWhileAsking({});
        QVERIFY(FtpConnection.Connected);
        QCOMPARE(w.statusText(1), QStringLiteral("Connected to 127.0.0.1 (SFTP over SSH)"));
        const QString home = m_sshd.serverPath(m_served.path());
        QCOMPARE(w.RemoteHeader->text(), "127.0.0.1" + home);
        QVERIFY(rowNamed(*w.RemoteFilesModel, "a.txt") >= 0);

        RemoteFocused = true;
        LocalFocused = false;
        prompter.expectInput(QStringLiteral("Create New Folder"), QStringLiteral("made"));
        w.btnNewFolderClick();
        QVERIFY(QFileInfo(m_served.filePath("made")).isDir());
        QVERIFY(rowNamed(*w.RemoteFilesModel, "made") >= 0);

        // The same name again is refused in the server's words, as an SFTP failure.
        prompter.expectInput(QStringLiteral("Create New Folder"), QStringLiteral("made"));
        prompter.expectMessageStartingWith(QStringLiteral("Create Directory Failed.\nFolder "
                                                          "\"made\"\n"));
        w.btnNewFolderClick();
        QVERIFY(prompter.verifyDone());
        QVERIFY(FtpConnection.Connected);

        QString renamed = QStringLiteral("renamed");
        w.RemoteFilesEdited(rowNamed(*w.RemoteFilesModel, "made"), renamed);
        QVERIFY(QFileInfo(m_served.filePath("renamed")).isDir());
        QVERIFY(rowNamed(*w.RemoteFilesModel, "renamed") >= 0);

        const int folder = rowNamed(*w.RemoteFilesModel, "renamed");
        w.RemoteFiles->selectionModel()->select(w.RemoteFilesModel->index(folder, 0),
                                                QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        w.RemoteFilesDblClick();
        QCOMPARE(w.RemoteHeader->text(), "127.0.0.1" + home + "/renamed");
        QCOMPARE(rowNamed(*w.RemoteFilesModel, "a.txt"), -1);

        w.btnUpOneLevelClick();
        QCOMPARE(w.RemoteHeader->text(), "127.0.0.1" + home);
        QVERIFY(rowNamed(*w.RemoteFilesModel, "a.txt") >= 0);
        QVERIFY(prompter.verifyDone());

        w.btnDisconnectClick();
        QVERIFY(!FtpConnection.Connected && !FtpConnection.isOpen());
        QCOMPARE(w.statusText(1), QStringLiteral("Not Connected"));
    }

private:
    QTemporaryDir m_home;
    QTemporaryDir m_served;
    SshServer m_sshd;
};

QTEST_MAIN(TestSftpWindow)
#include "tst_sftpwindow.moc"
