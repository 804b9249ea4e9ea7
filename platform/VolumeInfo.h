// Facts about the file system that holds a folder.
#pragma once

#include "Status.h"

#include <cstdint>
#include <string>

namespace qx {

struct VolumeInfo {
    std::string mountPoint;     // root of the file system, with trailing '/'
    std::string fsType;         // kernel type from /proc/self/mountinfo ("vfat", "ext4", "fuseblk", ...)
    std::string fileSystemName; // "FAT32", "FAT", "NTFS", or fsType
    uint64_t clusterSize = 0;   // fragment size in bytes
    uint64_t freeBytes = 0;     // available to this user, whole clusters
    uint64_t totalBytes = 0;
};

// Fails when the folder does not exist or cannot be examined.
Result<VolumeInfo> QueryVolume(const std::string& folder);

// The name of a kernel file-system type: vfat -> "FAT32", msdos -> "FAT", ntfs/ntfs3/ntfs-3g and
// fuseblk whose source is NTFS -> "NTFS", others unchanged. `ntfsHint`: the mount's source or
// sub-type says NTFS (used for fuseblk).
std::string FileSystemDisplayName(const std::string& fsType, bool ntfsHint = false);

// The mount that holds `realPath` (a resolved path on device major:minor) among the lines of a
// /proc/self/mountinfo text: the deepest mount point above the path, preferring mounts of the
// same device, the later one on equal depth. Fills mountPoint, fsType and fileSystemName only.
// Returns false when no line fits.
bool FindMountOf(const std::string& realPath, unsigned major, unsigned minor, const std::string& mountInfo,
                 VolumeInfo& info);

} // namespace qx
