#include "local/LocalVolumes.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <string_view>

namespace {

// File systems that hold a user's files on a disk of this machine.
constexpr std::string_view kDiskTypes[] = {"ext2",    "ext3",   "ext4",     "xfs",     "btrfs",
                                           "zfs",     "f2fs",   "jfs",      "vfat",    "msdos",
                                           "exfat",   "ntfs",   "ntfs3",    "fuseblk", "hfs",
                                           "hfsplus", "nilfs2", "bcachefs", "reiserfs"};
constexpr std::string_view kNetworkTypes[] = {
    "nfs",         "nfs4",      "cifs",        "smb3",          "smbfs",      "9p",
    "afs",         "ceph",      "glusterfs",   "davfs",         "fuse.sshfs", "sshfs",
    "fuse.rclone", "fuse.s3fs", "fuse.davfs2", "fuse.curlftpfs"};
constexpr std::string_view kOpticalTypes[] = {"iso9660", "udf"};
constexpr std::string_view kRamTypes[] = {"tmpfs", "ramfs"};

template <size_t N> bool contains(const std::string_view (&list)[N], const QByteArray& type)
{
    const std::string_view wanted(type.constData(), static_cast<size_t>(type.size()));
    for (std::string_view t : list)
        if (t == wanted)
            return true;
    return false;
}

bool isUnder(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// Mount points the system keeps for itself, whatever is mounted there.
bool isSystemArea(const QString& mountPoint)
{
    if (isUnder(mountPoint, QStringLiteral("/run/media")))
        return false;
    for (const char* area : {"/proc", "/sys", "/dev", "/run", "/snap", "/var/lib/docker",
                             "/var/lib/containers", "/var/snap", "/boot/efi"})
        if (isUnder(mountPoint, QString::fromLatin1(area)))
            return true;
    return false;
}

bool isRemovablePlace(const QString& mountPoint)
{
    return isUnder(mountPoint, QStringLiteral("/media")) ||
           isUnder(mountPoint, QStringLiteral("/run/media"));
}

// Decides whether a mount is a volume to offer and of which kind; false to leave it out.
bool classify(const QString& mountPoint, const QByteArray& type, VolumeKind& kind)
{
    if (mountPoint == QLatin1String("/")) {
        kind = VolumeKind::Fixed; // whatever the root is (overlay in a container), it is offered
        return true;
    }
    if (isSystemArea(mountPoint))
        return false;
    if (contains(kNetworkTypes, type)) {
        kind = VolumeKind::Network;
        return true;
    }
    if (contains(kOpticalTypes, type)) {
        kind = VolumeKind::Optical;
        return true;
    }
    if (contains(kRamTypes, type)) {
        // Most tmpfs mounts are the system's scratch space; /tmp is the one users browse.
        kind = VolumeKind::RamDisk;
        return mountPoint == QLatin1String("/tmp") || mountPoint == QLatin1String("/var/tmp");
    }
    if (contains(kDiskTypes, type)) {
        kind = isRemovablePlace(mountPoint) ? VolumeKind::Removable : VolumeKind::Fixed;
        return true;
    }
    return false;
}

struct MountLine
{
    QByteArray source, mountPoint, type;
};

// One line of mountinfo ("36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw")
// or, as a fallback, of /proc/mounts ("/dev/sda1 / ext4 rw 0 0").
bool splitMountLine(const QByteArray& line, MountLine& out)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    const qsizetype dash = fields.indexOf("-");
    if (dash >= 0) {
        if (dash < 6 || fields.size() < dash + 3)
            return false;
        out = {fields[dash + 2], fields[4], fields[dash + 1]};
        return true;
    }
    if (fields.size() < 3)
        return false;
    out = {fields[0], fields[1], fields[2]};
    return true;
}

} // namespace

QString unescapeMountField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = false;
            const int value = digits.toInt(&ok, 8);
            if (ok && digits.size() == 3 && value > 0 && value < 256) {
                out.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QString::fromUtf8(out);
}

std::vector<LocalVolume> parseMountInfo(const QByteArray& mountInfo,
                                        const QHash<QString, QString>& labels)
{
    std::vector<LocalVolume> volumes;
    for (const QByteArray& line : mountInfo.split('\n')) {
        MountLine m;
        if (line.trimmed().isEmpty() || !splitMountLine(line, m))
            continue;
        LocalVolume v;
        v.mountPoint = unescapeMountField(m.mountPoint);
        if (!v.mountPoint.startsWith(QLatin1Char('/')))
            continue;
        if (!classify(v.mountPoint, m.type, v.kind))
            continue;
        v.source = unescapeMountField(m.source);
        v.fsType = QString::fromUtf8(m.type);
        v.label = labels.value(v.source);
        // A later mount on the same point hides the earlier one.
        std::erase_if(volumes,
                      [&](const LocalVolume& old) { return old.mountPoint == v.mountPoint; });
        volumes.push_back(std::move(v));
    }
    return volumes;
}

QHash<QString, QString> readVolumeLabels(const QString& byLabelDir)
{
    QHash<QString, QString> labels;
    QDirIterator it(byLabelDir, QDir::Files | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo link = it.fileInfo();
        // udev escapes blanks and slashes in label links the same way mountinfo does.
        labels.insert(link.canonicalFilePath(), unescapeMountField(link.fileName().toUtf8()));
    }
    return labels;
}

std::vector<LocalVolume> enumerateLocalVolumes()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly)) {
        file.setFileName(QStringLiteral("/proc/mounts"));
        (void)file.open(QIODevice::ReadOnly);
    }
    // /proc files report size 0, so read until the end rather than by size.
    std::vector<LocalVolume> volumes = parseMountInfo(file.readAll(), readVolumeLabels());
    // A mount of a single file (a container's /etc/hosts) is no place to browse.
    std::erase_if(volumes, [](const LocalVolume& v) { return !QFileInfo(v.mountPoint).isDir(); });
    if (volumes.empty() || volumes.front().mountPoint != QLatin1String("/")) {
        std::erase_if(volumes, [](const LocalVolume& v) { return v.mountPoint == "/"; });
        volumes.insert(volumes.begin(), LocalVolume{QStringLiteral("/"), {}, {}, {}, {}});
    }
    const QString home = QDir::homePath();
    const bool homeListed = std::any_of(volumes.begin(), volumes.end(),
                                        [&](const LocalVolume& v) { return v.mountPoint == home; });
    if (!homeListed && home != QLatin1String("/") && QFileInfo(home).isDir())
        volumes.push_back(LocalVolume{home, {}, {}, {}, VolumeKind::Home});
    return volumes;
}

QString volumeText(const LocalVolume& volume)
{
    const QString label =
        volume.label.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(volume.label.toLower());
    switch (volume.kind) {
    case VolumeKind::Fixed:
    case VolumeKind::Optical:
    case VolumeKind::RamDisk:
        return volume.mountPoint + label;
    case VolumeKind::Network:
        if (!volume.source.isEmpty())
            return volume.mountPoint + QLatin1Char(' ') + volume.source.toLower();
        return volume.mountPoint + label;
    case VolumeKind::Removable:
    case VolumeKind::Home:
        break;
    }
    return volume.mountPoint;
}

int volumeIndexForPath(const std::vector<LocalVolume>& volumes, const QString& path)
{
    int best = -1;
    qsizetype bestLength = -1;
    for (size_t i = 0; i < volumes.size(); ++i) {
        const QString& mount = volumes[i].mountPoint;
        const bool holds =
            mount == QLatin1String("/") ? path.startsWith(QLatin1Char('/')) : isUnder(path, mount);
        if (holds && mount.size() > bestLength) {
            best = static_cast<int>(i);
            bestLength = mount.size();
        }
    }
    return best;
}
