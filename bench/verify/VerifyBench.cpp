// Writes a track of SIZE MB to a virtual writer (an overwritable disc at the highest speed a virtual
// writer takes, 1000000 KB/s) through the burning library, then reads it back and compares it: once
// right after the write (the image still in the page cache, as after a real burn of a virtual disc)
// and once with the image's pages dropped first (read from the disk). Prints each run's times and
// the medians of the ratios read-back / write.
//
//   verify_bench FOLDER [SIZE_MB=4096] [RUNS=3]
//
// FOLDER must be a folder of this user that no one else can write; the image and a private
// configuration folder (writers.ini) go there and are removed at the end.
#include "StarBurn.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Sectors of varied bytes, cheap to make: the write's time is the writer's, not the source's.
class SyntheticTree : public StarBurnTree {
public:
    explicit SyntheticTree(uint64_t sectors) : m_sectors(sectors) {}
    uint64_t SizeInSectors() const override { return m_sectors; }
    bool ReadSectors(uint64_t first, uint32_t count, uint8_t* buffer, std::string* error) override {
        if (first + count > m_sectors) {
            *error = "past the end";
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t x = (first + i) * 0x9E3779B97F4A7C15ULL + 1;
            auto* words = reinterpret_cast<uint64_t*>(buffer + static_cast<size_t>(i) * 2048);
            for (int w = 0; w < 256; ++w) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                words[w] = x;
            }
            if (first + i == 16) {
                std::memcpy(buffer + static_cast<size_t>(i) * 2048, "\x01" "CD001", 6); // a disc image
            }
        }
        return true;
    }

private:
    uint64_t m_sectors;
};

struct Found {
    std::vector<SCSI_DEVICE_ADDRESS> addresses;
    static void Callback(long event, void* context, void* p1, void*) {
        if (event == CN_DEVICE_FOUND) {
            static_cast<Found*>(context)->addresses.push_back(*static_cast<SCSI_DEVICE_ADDRESS*>(p1));
        }
    }
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[(v.size() - 1) / 2];
}

// Drops the image's pages from the page cache (only this file's), so that the read-back reads the disk.
void DropPages(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: verify_bench FOLDER [SIZE_MB=4096] [RUNS=3]\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    const uint64_t sizeMB = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 4096;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string config = folder + "config/";
    const std::string image = folder + "bench.iso";
    std::system(("mkdir -p '" + config + "qxmoviedisc'").c_str());
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    std::ofstream(config + "qxmoviedisc/writers.ini")
        << "[Writer 1]\nname=Bench DVD+RW\nimage=" << image << "\nmedia=9\ncapacity=4294967295\nspeeds=1000000\n";
    if (StarBurn_UpStartEx(nullptr, 0) != EN_SUCCESS) {
        std::fprintf(stderr, "the burning library did not start\n");
        return 1;
    }
    Found found;
    StarBurn_FindDevice(5, 0, Found::Callback, &found);
    CDVD_BURNER_GRABBER handle = nullptr;
    char text[1024] = {};
    unsigned long status = 0;
    for (const SCSI_DEVICE_ADDRESS& a : found.addresses) {
        if (a.port == kStarBurnVirtualPort && a.target == 1) {
            StarBurn_CdvdBurnerGrabber_Create(&handle, text, sizeof text, &status, nullptr, nullptr, a.port, a.bus,
                                              a.target, a.lun, 0);
        }
    }
    if (!handle) {
        std::fprintf(stderr, "no virtual writer: %s\n", text);
        return 1;
    }
    SyntheticTree tree(sizeMB * 512);
    std::vector<double> writes, warm, cold;
    int status_ = 0;
    for (int run = 0; run < runs && status_ == 0; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        long r = StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree(handle, text, sizeof text, &status, &tree, true, false,
                                                                false, true, 5);
        writes.push_back(Seconds(t0));
        if (r != EN_SUCCESS) {
            std::fprintf(stderr, "write failed: %s\n", text);
            status_ = 1;
            break;
        }
        uint64_t bad = 0;
        t0 = std::chrono::steady_clock::now();
        r = StarBurn_CdvdBurnerGrabber_VerifyTrack(handle, text, sizeof text, &status, &tree, &bad);
        warm.push_back(Seconds(t0));
        DropPages(image);
        t0 = std::chrono::steady_clock::now();
        const long rc = StarBurn_CdvdBurnerGrabber_VerifyTrack(handle, text, sizeof text, &status, &tree, &bad);
        cold.push_back(Seconds(t0));
        if (r != EN_SUCCESS || rc != EN_SUCCESS) {
            std::fprintf(stderr, "read-back failed: %s\n", text);
            status_ = 1;
        }
        std::printf("run %d: write %.2f s (%.0f MB/s), read-back %.2f s (%.0f MB/s), from disk %.2f s (%.0f MB/s)\n",
                    run + 1, writes.back(), sizeMB / writes.back(), warm.back(), sizeMB / warm.back(), cold.back(),
                    sizeMB / cold.back());
        std::fflush(stdout);
    }
    if (status_ == 0) {
        std::printf("%llu MB, median over %d runs: write %.2f s, read-back %.2f s (ratio %.2f), from disk %.2f s "
                    "(ratio %.2f); target ratio <= 0.50\n",
                    static_cast<unsigned long long>(sizeMB), runs, Median(writes), Median(warm),
                    Median(warm) / Median(writes), Median(cold), Median(cold) / Median(writes));
    }
    StarBurn_Destroy(&handle);
    StarBurn_DownShut();
    unlink(image.c_str());
    std::system(("rm -rf '" + config + "'").c_str());
    return status_;
}
