#include "UdfDescriptors.h"

#include "DiscText.h"
#include "DvdVideoImage.h"
#include "ImageBytes.h"

#include <cstring>

namespace qx::discimage {
namespace {

constexpr std::uint8_t kOsClassUnix = 4;
constexpr std::uint8_t kOsLinux = 5;
constexpr std::uint32_t kSequenceBytes = 16 * kSectorSize;

int clampField(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

void putRegid(std::uint8_t* p, const char* identifier) {
    std::memset(p, 0, 32);
    std::memcpy(p + 1, identifier, std::strlen(identifier));
}

// A long allocation descriptor of one block in partition 0, carrying the entry's unique id.
void putLongAd(std::uint8_t* p, std::uint32_t length, std::uint32_t block, std::uint64_t uniqueId) {
    PutLe32(p, length);
    PutLe32(p + 4, block);
    PutLe16(p + 8, 0);
    PutLe32(p + 12, static_cast<std::uint32_t>(uniqueId));
}

} // namespace

std::uint16_t Crc16Itu(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        struct Table {
            std::uint16_t v[256];
        } t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t crc = i << 8;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
            t.v[i] = static_cast<std::uint16_t>(crc);
        }
        return t;
    }();
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ table.v[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

void FinishTag(std::uint8_t* d, std::uint16_t id, std::uint32_t location, std::size_t length) {
    PutLe16(d, id);
    PutLe16(d + 2, 2);
    PutLe16(d + 6, 1);
    PutLe16(d + 8, Crc16Itu(d + 16, length - 16));
    PutLe16(d + 10, static_cast<std::uint32_t>(length - 16));
    PutLe32(d + 12, location);
    std::uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4)
            sum = static_cast<std::uint8_t>(sum + d[i]);
    d[4] = sum;
}

void PutUdfTimestamp(std::uint8_t* p, const std::tm& time) {
    // Type 1 (local time) with the offset from UTC in minutes as a 12-bit signed number.
    long offset = time.tm_gmtoff / 60;
    std::uint32_t zone = offset >= -1440 && offset <= 1440 ? static_cast<std::uint32_t>(offset) & 0x0FFF : 0x0801;
    PutLe16(p, 0x1000 | zone);
    PutLe16(p + 2, static_cast<std::uint32_t>(clampField(time.tm_year + 1900, 1, 9999)));
    p[4] = static_cast<std::uint8_t>(clampField(time.tm_mon + 1, 1, 12));
    p[5] = static_cast<std::uint8_t>(clampField(time.tm_mday, 1, 31));
    p[6] = static_cast<std::uint8_t>(clampField(time.tm_hour, 0, 23));
    p[7] = static_cast<std::uint8_t>(clampField(time.tm_min, 0, 59));
    p[8] = static_cast<std::uint8_t>(clampField(time.tm_sec, 0, 59));
    p[9] = p[10] = p[11] = 0;
}

void PutCharSpec(std::uint8_t* p) {
    std::memset(p, 0, 64);
    const char* name = "OSTA Compressed Unicode";
    std::memcpy(p + 1, name, std::strlen(name));
}

void PutDomainId(std::uint8_t* p) {
    putRegid(p, "*OSTA UDF Compliant");
    PutLe16(p + 24, kUdfRevision);
}

void PutImplementationId(std::uint8_t* p) {
    putRegid(p, "*QX Movie Disc");
    p[24] = kOsClassUnix;
    p[25] = kOsLinux;
}

void PutUdfId(std::uint8_t* p, const char* identifier) {
    putRegid(p, identifier);
    PutLe16(p + 24, kUdfRevision);
    p[26] = kOsClassUnix;
    p[27] = kOsLinux;
}

void WriteVolumeSequence(std::uint8_t* out, std::uint32_t firstSector, const UdfVolume& v) {
    std::memset(out, 0, 6 * kSectorSize);
    std::uint8_t* d = out;

    // Primary volume descriptor.
    PutLe32(d + 16, 0);
    PutLe32(d + 20, 0);
    PutDString(d + 24, 32, v.label);
    PutLe16(d + 56, 1);
    PutLe16(d + 58, 1);
    PutLe16(d + 60, 2);
    PutLe16(d + 62, 2);
    PutLe32(d + 64, 1);
    PutLe32(d + 68, 1);
    PutDString(d + 72, 128, v.volumeSetId);
    PutCharSpec(d + 200);
    PutCharSpec(d + 264);
    PutImplementationId(d + 344); // application
    PutUdfTimestamp(d + 376, v.time);
    PutImplementationId(d + 388);
    FinishTag(d, kTagPrimaryVolume, firstSector, 512);

    // Implementation use volume descriptor: the label again, publisher and preparer as volume info.
    d = out + kSectorSize;
    PutLe32(d + 16, 1);
    PutUdfId(d + 20, "*UDF LV Info");
    PutCharSpec(d + 52);
    PutDString(d + 116, 128, v.label);
    PutDString(d + 244, 36, v.publisher);
    PutDString(d + 280, 36, v.preparer);
    PutImplementationId(d + 352);
    FinishTag(d, kTagImplementationUse, firstSector + 1, 512);

    // Partition descriptor: one read-only partition, no space bitmaps.
    d = out + 2 * kSectorSize;
    PutLe32(d + 16, 2);
    PutLe16(d + 20, 1);
    PutLe16(d + 22, 0);
    putRegid(d + 24, "+NSR02");
    PutLe32(d + 184, 1);
    PutLe32(d + 188, v.partitionStart);
    PutLe32(d + 192, v.partitionLength);
    PutImplementationId(d + 196);
    FinishTag(d, kTagPartition, firstSector + 2, 512);

    // Logical volume descriptor with one type-1 partition map; the file set lies at block 0.
    d = out + 3 * kSectorSize;
    PutLe32(d + 16, 3);
    PutCharSpec(d + 20);
    PutDString(d + 84, 128, v.label);
    PutLe32(d + 212, kSectorSize);
    PutDomainId(d + 216);
    putLongAd(d + 248, kSectorSize, 0, 0);
    PutLe32(d + 264, 6);
    PutLe32(d + 268, 1);
    PutImplementationId(d + 272);
    PutLe32(d + 432, 2 * kSectorSize);
    PutLe32(d + 436, v.integritySequence);
    d[440] = 1;
    d[441] = 6;
    PutLe16(d + 442, 1);
    PutLe16(d + 444, 0);
    FinishTag(d, kTagLogicalVolume, firstSector + 3, 446);

    // Unallocated space descriptor: nothing is free.
    d = out + 4 * kSectorSize;
    PutLe32(d + 16, 4);
    FinishTag(d, kTagUnallocatedSpace, firstSector + 4, 24);

    FinishTag(out + 5 * kSectorSize, kTagTerminating, firstSector + 5, 512);
}

void WriteAnchor(std::uint8_t* out, std::uint32_t sector, const UdfVolume& v) {
    std::memset(out, 0, kSectorSize);
    PutLe32(out + 16, kSequenceBytes);
    PutLe32(out + 20, v.mainSequence);
    PutLe32(out + 24, kSequenceBytes);
    PutLe32(out + 28, v.reserveSequence);
    FinishTag(out, kTagAnchor, sector, 512);
}

void WriteIntegritySequence(std::uint8_t* out, const UdfVolume& v) {
    std::memset(out, 0, 2 * kSectorSize);
    std::uint8_t* d = out;
    PutUdfTimestamp(d + 16, v.time);
    PutLe32(d + 28, 1); // closed
    PutLe64(d + 40, v.nextUniqueId);
    PutLe32(d + 72, 1);
    PutLe32(d + 76, 46);
    PutLe32(d + 80, 0);                 // free blocks
    PutLe32(d + 84, v.partitionLength); // partition size
    std::uint8_t* use = d + 88;
    PutImplementationId(use);
    PutLe32(use + 32, v.files);
    PutLe32(use + 36, v.directories);
    PutLe16(use + 40, kUdfRevision);
    PutLe16(use + 42, kUdfRevision);
    PutLe16(use + 44, kUdfRevision);
    FinishTag(d, kTagIntegrity, v.integritySequence, 88 + 46);
    FinishTag(out + kSectorSize, kTagTerminating, v.integritySequence + 1, 512);
}

void WriteFileSet(std::uint8_t* out, const UdfVolume& v, std::uint32_t rootBlock) {
    std::memset(out, 0, 2 * kSectorSize);
    std::uint8_t* d = out;
    PutUdfTimestamp(d + 16, v.time);
    PutLe16(d + 28, 3);
    PutLe16(d + 30, 3);
    PutLe32(d + 32, 1);
    PutLe32(d + 36, 1);
    PutCharSpec(d + 48);
    PutDString(d + 112, 128, v.label);
    PutCharSpec(d + 240);
    PutDString(d + 304, 32, v.label);
    putLongAd(d + 400, kSectorSize, rootBlock, 0);
    PutDomainId(d + 416);
    FinishTag(d, kTagFileSet, 0, 512);
    FinishTag(out + kSectorSize, kTagTerminating, 1, 512);
}

void WriteFileEntry(std::uint8_t* out, const UdfEntry& e, const std::tm& time) {
    std::memset(out, 0, kSectorSize);
    std::uint8_t* d = out;
    // ICB tag: strategy 4, one entry, short allocation descriptors.
    PutLe16(d + 16 + 4, 4);
    PutLe16(d + 16 + 8, 1);
    d[16 + 11] = e.directory ? 4 : 5;
    PutLe16(d + 16 + 18, 0);
    PutLe32(d + 36, 0xFFFFFFFF); // no user
    PutLe32(d + 40, 0xFFFFFFFF); // no group
    // Read for everyone; directories may also be searched.
    std::uint32_t each = e.directory ? 0x05 : 0x04;
    PutLe32(d + 44, each | (each << 5) | (each << 10));
    PutLe16(d + 48, e.links);
    PutLe64(d + 56, e.size);
    PutLe64(d + 64, (e.size + kSectorSize - 1) / kSectorSize);
    PutUdfTimestamp(d + 72, time);
    PutUdfTimestamp(d + 84, time);
    PutUdfTimestamp(d + 96, time);
    PutLe32(d + 108, 1);
    PutImplementationId(d + 128);
    PutLe64(d + 160, e.uniqueId);
    std::uint32_t adBytes = 0;
    std::uint64_t left = e.size;
    std::uint32_t block = e.dataBlock;
    while (left > 0) {
        std::uint32_t length = left > kMaxExtentBytes ? kMaxExtentBytes : static_cast<std::uint32_t>(left);
        PutLe32(d + kFileEntryHeader + adBytes, length);
        PutLe32(d + kFileEntryHeader + adBytes + 4, block);
        adBytes += 8;
        block += length / kSectorSize;
        left -= length;
    }
    PutLe32(d + 172, adBytes);
    FinishTag(d, kTagFileEntry, e.block, kFileEntryHeader + adBytes);
}

namespace {

std::size_t identifierSize(std::size_t nameBytes) {
    return (38 + nameBytes + 3) / 4 * 4;
}

} // namespace

std::size_t DirectoryIdentifiersSize(const std::vector<UdfChild>& children) {
    std::size_t size = identifierSize(0);
    for (const UdfChild& child : children)
        size += identifierSize(1 + child.name.size());
    return size;
}

std::vector<std::uint8_t> DirectoryIdentifiers(std::uint32_t firstBlock, std::uint32_t parentEntryBlock,
                                               const std::vector<UdfChild>& children) {
    std::vector<std::uint8_t> bytes(DirectoryIdentifiersSize(children), 0);
    std::size_t at = 0;
    auto put = [&](const UdfChild* child) {
        std::uint8_t* d = bytes.data() + at;
        std::size_t nameBytes = 0;
        PutLe16(d + 16, 1);
        if (child) {
            d[18] = child->directory ? 0x02 : 0x00;
            nameBytes = PutCs0Name(d + 38, child->name);
            putLongAd(d + 20, kSectorSize, child->entryBlock, child->uniqueId);
        } else {
            d[18] = 0x0A; // parent, directory
            putLongAd(d + 20, kSectorSize, parentEntryBlock, 0);
        }
        d[19] = static_cast<std::uint8_t>(nameBytes);
        std::size_t size = identifierSize(nameBytes);
        FinishTag(d, kTagFileIdentifier, firstBlock + static_cast<std::uint32_t>(at / kSectorSize), size);
        at += size;
    };
    put(nullptr);
    for (const UdfChild& child : children)
        put(&child);
    return bytes;
}

} // namespace qx::discimage
