#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>

#include <vector>

// What kind of place a volume is; the drive picker shows a picture per kind.
enum class VolumeKind { Fixed, Removable, Network, Optical, RamDisk, Home };

// One place the user can pick in LocalDrives: a mounted file system, or the home folder.
struct LocalVolume
{
    QString mountPoint; // absolute, no trailing '/' except for the root itself
    QString source;     // the mount source: a device, or "server:/export" for a network mount
    QString fsType;
    QString label; // the file system's label, empty when none is known
    VolumeKind kind = VolumeKind::Fixed;
};

// The mount entries of /proc/self/mountinfo that a user would pick: the root file system,
// real disks, removable media, network mounts and the /tmp RAM disk. Pseudo file systems
// (proc, sysfs, cgroup...), system scratch areas and single-file binds are left out; a mount
// point listed twice keeps its last entry, which is the one that hides the other.
// `labels` maps a device path to its label (see readVolumeLabels).
std::vector<LocalVolume> parseMountInfo(const QByteArray& mountInfo,
                                        const QHash<QString, QString>& labels = {});

// The system's volumes now, with the user's home folder appended when it is not a mount
// point of its own, so that it is one pick away.
std::vector<LocalVolume> enumerateLocalVolumes();

// Device path -> label, from the links in /dev/disk/by-label.
QHash<QString, QString>
readVolumeLabels(const QString& byLabelDir = QStringLiteral("/dev/disk/by-label"));

// The picker's text: the mount point; a fixed, optical or RAM volume adds " [label]" when it
// has one, a network volume adds a blank and its source (or " [label]" when the source is
// unknown). Labels and sources are shown in lower case.
QString volumeText(const LocalVolume& volume);

// The index of the volume holding `path` (the longest mount point that is a prefix of it
// at a '/' boundary), or -1 when none does.
int volumeIndexForPath(const std::vector<LocalVolume>& volumes, const QString& path);

// Undoes mountinfo's octal escapes ("\040" for a blank) in one field.
QString unescapeMountField(const QByteArray& field);
