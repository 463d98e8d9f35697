#include "local/LocalFolder.h"
#include "local/LocalVolumes.h"

#include <QTest>

// Which mounts the drive picker offers, how it names them, and which one holds a folder.
class TestLocalVolumes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void offersOnlyPlacesAUserPicks_data();
    void offersOnlyPlacesAUserPicks();
    void laterMountOnTheSamePointHidesTheEarlier();
    void readsProcMountsFormatToo();
    void labelsComeFromTheLabelMap();
    void unescapesOctalFields_data();
    void unescapesOctalFields();
    void volumeTextFollowsTheKind_data();
    void volumeTextFollowsTheKind();
    void volumeForPathIsTheLongestMountAtASlash_data();
    void volumeForPathIsTheLongestMountAtASlash();
    void rememberedFolderIsPerVolume();
    void systemEnumerationStartsWithTheRoot();
};

namespace {

QByteArray mountLine(int id, const char* mountPoint, const char* type, const char* source)
{
    return QByteArray::number(id) + " 1 8:1 / " + mountPoint + " rw,relatime shared:1 - " + type +
           ' ' + source + " rw\n";
}

// A desktop's mount table with the usual system mounts around the real ones.
QByteArray desktopMountInfo()
{
    QByteArray m;
    m += mountLine(21, "/proc", "proc", "proc");
    m += mountLine(22, "/sys", "sysfs", "sysfs");
    m += mountLine(23, "/dev", "devtmpfs", "udev");
    m += mountLine(24, "/dev/shm", "tmpfs", "tmpfs");
    m += mountLine(25, "/run", "tmpfs", "tmpfs");
    m += mountLine(26, "/", "ext4", "/dev/nvme0n1p2");
    m += mountLine(27, "/sys/fs/cgroup", "cgroup2", "cgroup2");
    m += mountLine(28, "/boot/efi", "vfat", "/dev/nvme0n1p1");
    m += mountLine(29, "/home", "btrfs", "/dev/nvme0n1p3");
    m += mountLine(30, "/snap/core/123", "squashfs", "/dev/loop0");
    m += mountLine(31, "/run/user/1000", "tmpfs", "tmpfs");
    m += mountLine(32, "/run/user/1000/gvfs", "fuse.gvfsd-fuse", "gvfsd-fuse");
    m += mountLine(33, "/media/ann/USB\\040STICK", "vfat", "/dev/sdb1");
    m += mountLine(34, "/mnt/nas", "nfs4", "nas:/export/Share");
    m += mountLine(35, "/tmp", "tmpfs", "tmpfs");
    m += mountLine(36, "/media/cdrom", "iso9660", "/dev/sr0");
    m += mountLine(37, "/run/media/ann/CAMERA", "exfat", "/dev/sdc1");
    m += mountLine(38, "/mnt/sandbox/tools", "tmpfs", "tools");
    m += mountLine(39, "/proc/sys/fs/binfmt_misc", "binfmt_misc", "binfmt_misc");
    m += mountLine(40, "/mnt/share", "cifs", "//Server/Public");
    m += "garbage line without the separator fields\n\n";
    return m;
}

} // namespace

void TestLocalVolumes::offersOnlyPlacesAUserPicks_data()
{
    QTest::addColumn<QByteArray>("mountInfo");
    QTest::addColumn<QStringList>("mountPoints");
    QTest::addColumn<QList<int>>("kinds");

    const auto k = [](VolumeKind kind) { return static_cast<int>(kind); };
    QTest::newRow("desktop")
        << desktopMountInfo()
        << QStringList{"/",    "/home",        "/media/ann/USB STICK",  "/mnt/nas",
                       "/tmp", "/media/cdrom", "/run/media/ann/CAMERA", "/mnt/share"}
        << QList<int>{k(VolumeKind::Fixed),     k(VolumeKind::Fixed),   k(VolumeKind::Removable),
                      k(VolumeKind::Network),   k(VolumeKind::RamDisk), k(VolumeKind::Optical),
                      k(VolumeKind::Removable), k(VolumeKind::Network)};
    // In a container the root is an overlay; it is still the one place to offer.
    QTest::newRow("container root")
        << mountLine(1, "/", "overlay", "overlay") + mountLine(2, "/proc", "proc", "proc") +
               mountLine(3, "/etc/hosts", "ext4", "/dev/vda")
        << QStringList{"/", "/etc/hosts"} << QList<int>{k(VolumeKind::Fixed), k(VolumeKind::Fixed)};
    QTest::newRow("empty") << QByteArray() << QStringList{} << QList<int>{};
}

void TestLocalVolumes::offersOnlyPlacesAUserPicks()
{
    QFETCH(QByteArray, mountInfo);
    QFETCH(QStringList, mountPoints);
    QFETCH(QList<int>, kinds);
    const std::vector<LocalVolume> volumes = parseMountInfo(mountInfo);
    QStringList gotPoints;
    QList<int> gotKinds;
    for (const LocalVolume& v : volumes) {
        gotPoints << v.mountPoint;
        gotKinds << static_cast<int>(v.kind);
    }
    QCOMPARE(gotPoints, mountPoints);
    QCOMPARE(gotKinds, kinds);
}

void TestLocalVolumes::laterMountOnTheSamePointHidesTheEarlier()
{
    const std::vector<LocalVolume> volumes = parseMountInfo(
        mountLine(1, "/", "ext4", "/dev/sda1") + mountLine(2, "/data", "ext4", "/dev/sdb1") +
        mountLine(3, "/data", "nfs", "filer:/vol/data"));
    QCOMPARE(volumes.size(), size_t(2));
    QCOMPARE(volumes[1].mountPoint, QStringLiteral("/data"));
    QCOMPARE(volumes[1].kind, VolumeKind::Network);
    QCOMPARE(volumes[1].source, QStringLiteral("filer:/vol/data"));
}

void TestLocalVolumes::readsProcMountsFormatToo()
{
    const std::vector<LocalVolume> volumes =
        parseMountInfo("proc /proc proc rw 0 0\n/dev/sda1 / ext4 rw 0 0\n"
                       "/dev/sdb1 /media/bob/My\\040Disk ntfs3 rw 0 0\n");
    QCOMPARE(volumes.size(), size_t(2));
    QCOMPARE(volumes[0].mountPoint, QStringLiteral("/"));
    QCOMPARE(volumes[1].mountPoint, QStringLiteral("/media/bob/My Disk"));
    QCOMPARE(volumes[1].kind, VolumeKind::Removable);
    QCOMPARE(volumes[1].source, QStringLiteral("/dev/sdb1"));
}

void TestLocalVolumes::labelsComeFromTheLabelMap()
{
    const QHash<QString, QString> labels{{"/dev/sda1", "System"}, {"/dev/sdb1", "Backup"}};
    const std::vector<LocalVolume> volumes = parseMountInfo(
        mountLine(1, "/", "ext4", "/dev/sda1") + mountLine(2, "/srv", "xfs", "/dev/sdc1"), labels);
    QCOMPARE(volumes[0].label, QStringLiteral("System"));
    QVERIFY(volumes[1].label.isEmpty());
}

void TestLocalVolumes::unescapesOctalFields_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blank") << QByteArray("/media/My\\040Stick") << "/media/My Stick";
    QTest::newRow("tab and newline") << QByteArray("a\\011b\\012c") << "a\tb\nc";
    QTest::newRow("backslash") << QByteArray("x\\134y") << "x\\y";
    QTest::newRow("plain") << QByteArray("/home") << "/home";
    QTest::newRow("short escape at end") << QByteArray("/m\\04") << "/m\\04";
    QTest::newRow("not octal") << QByteArray("/m\\09x") << "/m\\09x";
    QTest::newRow("utf-8") << QByteArray("/media/\xc3\xa9t\xc3\xa9")
                           << QString::fromUtf8("/media/été");
}

void TestLocalVolumes::unescapesOctalFields()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, expected);
    QCOMPARE(unescapeMountField(field), expected);
}

void TestLocalVolumes::volumeTextFollowsTheKind_data()
{
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    const auto k = [](VolumeKind kind) { return static_cast<int>(kind); };
    QTest::newRow("fixed with label") << "/data"
                                      << "/dev/sdb1"
                                      << "Data Disk" << k(VolumeKind::Fixed) << "/data [data disk]";
    QTest::newRow("fixed without label") << "/"
                                         << "/dev/sda1"
                                         << "" << k(VolumeKind::Fixed) << "/";
    QTest::newRow("optical") << "/media/cdrom"
                             << "/dev/sr0"
                             << "FOTOS_2019" << k(VolumeKind::Optical)
                             << "/media/cdrom [fotos_2019]";
    QTest::newRow("ram disk") << "/tmp"
                              << "tmpfs"
                              << "" << k(VolumeKind::RamDisk) << "/tmp";
    QTest::newRow("network source")
        << "/mnt/share"
        << "//Server/Public"
        << "Ignored" << k(VolumeKind::Network) << "/mnt/share //server/public";
    QTest::newRow("network, label only") << "/mnt/x"
                                         << ""
                                         << "Team" << k(VolumeKind::Network) << "/mnt/x [team]";
    // The picker shows removable media without a label, as the mount point usually is one.
    QTest::newRow("removable") << "/media/ann/STICK"
                               << "/dev/sdb1"
                               << "STICK" << k(VolumeKind::Removable) << "/media/ann/STICK";
    QTest::newRow("home") << "/home/ann"
                          << ""
                          << "" << k(VolumeKind::Home) << "/home/ann";
}

void TestLocalVolumes::volumeTextFollowsTheKind()
{
    QFETCH(QString, mountPoint);
    QFETCH(QString, source);
    QFETCH(QString, label);
    QFETCH(int, kind);
    QFETCH(QString, text);
    const LocalVolume v{mountPoint, source, QStringLiteral("x"), label,
                        static_cast<VolumeKind>(kind)};
    QCOMPARE(volumeText(v), text);
}

void TestLocalVolumes::volumeForPathIsTheLongestMountAtASlash_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("index");
    QTest::newRow("root") << "/" << 0;
    QTest::newRow("under root") << "/etc/apt" << 0;
    QTest::newRow("mount point itself") << "/home" << 1;
    QTest::newRow("under a mount") << "/home/ann/docs" << 1;
    QTest::newRow("name sharing a prefix") << "/homework" << 0;
    QTest::newRow("nested mount") << "/home/ann/nas/x" << 2;
    QTest::newRow("relative") << "docs" << -1;
}

void TestLocalVolumes::volumeForPathIsTheLongestMountAtASlash()
{
    QFETCH(QString, path);
    QFETCH(int, index);
    const std::vector<LocalVolume> volumes{{"/", {}, {}, {}, VolumeKind::Fixed},
                                           {"/home", {}, {}, {}, VolumeKind::Fixed},
                                           {"/home/ann/nas", {}, {}, {}, VolumeKind::Network}};
    QCOMPARE(volumeIndexForPath(volumes, path), index);
}

void TestLocalVolumes::rememberedFolderIsPerVolume()
{
    const std::vector<LocalVolume> volumes{{"/", {}, {}, {}, VolumeKind::Fixed},
                                           {"/media/usb", {}, {}, {}, VolumeKind::Removable}};
    LocalFolderMemory memory;
    QCOMPARE(memory.folderFor(volumes[1]), QStringLiteral("/media/usb"));
    memory.remember(volumes, QStringLiteral("/media/usb/photos"));
    memory.remember(volumes, QStringLiteral("/etc"));
    memory.remember(volumes, QStringLiteral("/var/log"));
    QCOMPARE(memory.folderFor(volumes[0]), QStringLiteral("/var/log"));
    QCOMPARE(memory.folderFor(volumes[1]), QStringLiteral("/media/usb/photos"));
}

void TestLocalVolumes::systemEnumerationStartsWithTheRoot()
{
    const std::vector<LocalVolume> volumes = enumerateLocalVolumes();
    QVERIFY(!volumes.empty());
    QCOMPARE(volumes.front().mountPoint, QStringLiteral("/"));
    for (const LocalVolume& v : volumes) {
        QVERIFY2(!v.mountPoint.startsWith(QLatin1String("/proc")), qPrintable(v.mountPoint));
        QVERIFY2(!v.mountPoint.startsWith(QLatin1String("/sys")), qPrintable(v.mountPoint));
    }
}

QTEST_GUILESS_MAIN(TestLocalVolumes)
#include "tst_localvolumes.moc"
