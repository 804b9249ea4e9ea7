// DVD-Video folders made into disc images: the input is two bytes giving the length of VIDEO_TS.IFO,
// two bytes giving the title VOB's size in sectors (up to 511), then VIDEO_TS.IFO and VTS_01_0.IFO
// (backups are copies). A refused folder must come with a reason; an accepted one must keep the
// promises its information files make, and every sector of its image must be readable.
#include "DvdVideoImage.h"
#include "FuzzSupport.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/stat.h>

namespace {

uint32_t be16(const uint8_t* p) {
    return (uint32_t(p[0]) << 8) | p[1];
}
uint32_t be32(const uint8_t* p) {
    return (be16(p) << 16) | be16(p + 2);
}

} // namespace

int QxFuzzVideoTs(const uint8_t* data, size_t size) {
    using namespace qx::discimage;
    static const std::string folder = [] {
        std::string f = qxfuzz::ScratchFolder() + "/VIDEO_TS";
        std::remove(f.c_str());
        mkdir(f.c_str(), 0700);
        return f;
    }();
    if (size < 4)
        return 0;
    const size_t first = std::min<size_t>(be16(data), size - 4);
    const size_t vobSectors = be16(data + 2) % 512;
    const uint8_t* vmg = data + 4;
    const uint8_t* vts = vmg + first;
    const size_t vtsSize = size - 4 - first;
    qxfuzz::WriteScratchFile(folder + "/VIDEO_TS.IFO", vmg, first);
    qxfuzz::WriteScratchFile(folder + "/VIDEO_TS.BUP", vmg, first);
    qxfuzz::WriteScratchFile(folder + "/VTS_01_0.IFO", vts, vtsSize);
    qxfuzz::WriteScratchFile(folder + "/VTS_01_0.BUP", vts, vtsSize);
    std::vector<uint8_t> vob(vobSectors * kSectorSize, 0x5A);
    std::remove((folder + "/VTS_01_1.VOB").c_str());
    if (vobSectors > 0)
        qxfuzz::WriteScratchFile(folder + "/VTS_01_1.VOB", vob.data(), vob.size());

    ImageDescriptor descriptor;
    std::string error;
    std::unique_ptr<DvdVideoImage> image = DvdVideoImage::Create(folder, descriptor, &error);
    QX_FUZZ_CHECK(image || !error.empty());
    if (!image)
        return 0;

    // Accepted: whole sectors, the set's start in the table of titles, the set ends where its files do.
    QX_FUZZ_CHECK(first % kSectorSize == 0 && vtsSize % kSectorSize == 0);
    const uint64_t vtsStart = image->FileSector(2) - image->FileSector(0);
    QX_FUZZ_CHECK(image->Files()[2].name == "VTS_01_0.IFO");
    const size_t table = size_t(be32(vmg + 0xC4)) * kSectorSize;
    QX_FUZZ_CHECK(table + 8 <= first);
    QX_FUZZ_CHECK(be16(vmg + table) >= 1); // a disc without titles would not play
    for (uint32_t t = 0; table + 8 <= first && t < be16(vmg + table); ++t)
        QX_FUZZ_CHECK(be32(vmg + table + 8 + 12 * t + 8) == vtsStart);
    QX_FUZZ_CHECK(be32(vts + 0x0C) + 1 == (2 * vtsSize) / kSectorSize + vobSectors);

    // Every sector reads, and the files lie where the image says.
    std::vector<uint8_t> buffer(64 * kSectorSize);
    for (uint64_t s = 0; s < image->SizeInSectors(); s += 64) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(64, image->SizeInSectors() - s));
        QX_FUZZ_CHECK(image->ReadSectors(s, n, buffer.data(), &error));
    }
    QX_FUZZ_CHECK(image->ReadSectors(image->FileSector(2), 1, buffer.data(), &error));
    QX_FUZZ_CHECK(std::memcmp(buffer.data(), vts, kSectorSize) == 0);
    return 0;
}
