#include "PlatformTestSupport.h"
#include "SystemServices.h"
#include "VolumeInfo.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/statvfs.h>

using namespace qx;

TEST(Volume, FileSystemNames) {
    EXPECT_EQ(FileSystemDisplayName("vfat"), "FAT32");
    EXPECT_EQ(FileSystemDisplayName("msdos"), "FAT");
    EXPECT_EQ(FileSystemDisplayName("ntfs"), "NTFS");
    EXPECT_EQ(FileSystemDisplayName("ntfs3"), "NTFS");
    EXPECT_EQ(FileSystemDisplayName("fuseblk", true), "NTFS");
    EXPECT_EQ(FileSystemDisplayName("fuseblk", false), "fuseblk");
    EXPECT_EQ(FileSystemDisplayName("ext4"), "ext4");
    EXPECT_EQ(FileSystemDisplayName("exfat"), "exfat");
}

TEST(Volume, MountOfAPathFromMountInfo) {
    const std::string info = "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                             "30 21 8:17 / /media/USB\\040DISK rw,nosuid - vfat /dev/sdb1 rw\n"
                             "31 21 8:33 / /media/old rw - msdos /dev/sdc1 rw\n"
                             "32 21 8:49 / /media/win rw - ntfs3 /dev/sdd1 rw\n"
                             "33 21 0:40 / /media/USB rw - tmpfs tmpfs rw\n" // a name prefix, not a parent
                             "34 21 0:41 / /media/win rw - tmpfs tmpfs rw\n" // covers the ntfs3 mount
                             "garbage line\n";
    VolumeInfo v;
    ASSERT_TRUE(FindMountOf("/media/USB DISK/movies", 8, 17, info, v));
    EXPECT_EQ(v.mountPoint, "/media/USB DISK/");
    EXPECT_EQ(v.fileSystemName, "FAT32");
    ASSERT_TRUE(FindMountOf("/media/old", 8, 33, info, v));
    EXPECT_EQ(v.fileSystemName, "FAT");
    ASSERT_TRUE(FindMountOf("/media/win/x", 0, 41, info, v));
    EXPECT_EQ(v.fsType, "tmpfs");
    ASSERT_TRUE(FindMountOf("/media/oldies", 8, 1, info, v)); // "/media/old" is no parent of it
    EXPECT_EQ(v.mountPoint, "/");
    EXPECT_EQ(v.fileSystemName, "ext4");
    EXPECT_FALSE(FindMountOf("/x", 1, 1, "nonsense\n", v));
}

TEST(Volume, RealFoldersAndMissingOnes) {
    test::IsolatedEnv env;
    Result<VolumeInfo> v = QueryVolume(env.root());
    ASSERT_TRUE(v.ok()) << v.error;
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(env.root().c_str(), resolved), nullptr);
    EXPECT_EQ(std::string(resolved).rfind(v.value.mountPoint.substr(0, v.value.mountPoint.size() - 1), 0), 0u);
    EXPECT_FALSE(v.value.fsType.empty());
    struct statvfs s {};
    ASSERT_EQ(statvfs(env.root().c_str(), &s), 0);
    EXPECT_EQ(v.value.totalBytes, static_cast<uint64_t>(s.f_blocks) * s.f_frsize);
    ASSERT_GT(v.value.clusterSize, 0u);
    EXPECT_EQ(v.value.freeBytes % v.value.clusterSize, 0u);
    EXPECT_LE(v.value.freeBytes, v.value.totalBytes);

    v = QueryVolume("/proc/self");
    ASSERT_TRUE(v.ok()) << v.error;
    EXPECT_EQ(v.value.mountPoint, "/proc/");
    EXPECT_EQ(v.value.fileSystemName, "proc");

    v = QueryVolume(env.root() + "/missing");
    ASSERT_FALSE(v.ok());
    EXPECT_NE(v.error.find("does not exist"), std::string::npos) << v.error;
}

TEST(SystemServices, WithoutMessageBusesFailOrDoNothingQuickly) {
    test::IsolatedEnv env;
    test::App();
    std::string nowhere = "unix:path=" + env.root() + "/no-bus";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", nowhere.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", nowhere.c_str(), 1);
    auto t0 = std::chrono::steady_clock::now();
    std::unique_ptr<PowerService> power = CreateLoginManagerPowerService(1000);
    Status s = power->PowerOff();
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("no system message bus"), std::string::npos) << s.error();

    std::unique_ptr<ScreenSaverInhibitor> inhibitor = CreateDesktopScreenSaverInhibitor(1000);
    EXPECT_TRUE(inhibitor->Inhibit("QX Movie Disc", "Converting movies").ok());
    EXPECT_FALSE(inhibitor->active());
    inhibitor->UnInhibit();
    inhibitor.reset();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count(),
              5000);
}
