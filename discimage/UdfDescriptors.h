// Writers of the UDF 1.02 descriptors a DVD-Video volume needs. Each fills a zeroed buffer; Finish
// functions complete the 16-byte tag (checksum and CRC) once the body is final.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace qx::discimage {

enum UdfTagId : std::uint16_t {
    kTagPrimaryVolume = 1,
    kTagAnchor = 2,
    kTagImplementationUse = 4,
    kTagPartition = 5,
    kTagLogicalVolume = 6,
    kTagUnallocatedSpace = 7,
    kTagTerminating = 8,
    kTagIntegrity = 9,
    kTagFileSet = 256,
    kTagFileIdentifier = 257,
    kTagFileEntry = 261,
};

constexpr std::uint16_t kUdfRevision = 0x0102;
constexpr std::size_t kFileEntryHeader = 176;         // a file entry up to its allocation descriptors
constexpr std::uint32_t kMaxExtentBytes = 0x3FFFF800; // the largest extent length that is whole sectors

// Fills the tag of the descriptor at `d` whose total length is `length` bytes: identifier, version 2,
// serial 1, CRC over bytes 16 .. length-1, tag location, and the checksum last.
void FinishTag(std::uint8_t* d, std::uint16_t id, std::uint32_t location, std::size_t length);

void PutUdfTimestamp(std::uint8_t* p, const std::tm& time);
void PutCharSpec(std::uint8_t* p); // CS0 "OSTA Compressed Unicode"
void PutDomainId(std::uint8_t* p); // "*OSTA UDF Compliant", revision 1.02
void PutImplementationId(std::uint8_t* p);
void PutUdfId(std::uint8_t* p, const char* identifier); // a "*UDF ..." identifier with the revision suffix

// Where the structures of the volume lie, in absolute sectors, and what they say.
struct UdfVolume {
    std::u32string label;
    std::u32string publisher;
    std::u32string preparer;
    std::u32string volumeSetId;
    std::tm time{};
    std::uint32_t partitionStart = 0;
    std::uint32_t partitionLength = 0; // sectors
    std::uint32_t mainSequence = 0;    // 16 sectors each
    std::uint32_t reserveSequence = 0;
    std::uint32_t integritySequence = 0; // 2 sectors: integrity descriptor, terminator
    std::uint32_t files = 0;
    std::uint32_t directories = 0;
    std::uint64_t nextUniqueId = 0;
};

// The volume descriptor sequence (primary, implementation use, partition, logical volume, unallocated
// space, terminator) written into 6 sectors at `out`, tags located from `firstSector`.
void WriteVolumeSequence(std::uint8_t* out, std::uint32_t firstSector, const UdfVolume& volume);
void WriteAnchor(std::uint8_t* out, std::uint32_t sector, const UdfVolume& volume);
// Closed integrity descriptor and its terminator, 2 sectors.
void WriteIntegritySequence(std::uint8_t* out, const UdfVolume& volume);
// File set descriptor at partition block 0 and its terminator at block 1.
void WriteFileSet(std::uint8_t* out, const UdfVolume& volume, std::uint32_t rootBlock);

// One file or directory entry (one sector at partition block `block`). Data of `size` bytes starting
// at partition block `dataBlock`, as one extent per kMaxExtentBytes.
struct UdfEntry {
    bool directory = false;
    std::uint32_t block = 0;
    std::uint32_t dataBlock = 0;
    std::uint64_t size = 0;
    std::uint16_t links = 1;
    std::uint64_t uniqueId = 0;
};
void WriteFileEntry(std::uint8_t* out, const UdfEntry& entry, const std::tm& time);

// A directory's file identifier descriptors: the parent first, then one per child.
struct UdfChild {
    std::string name; // ASCII, as on the disc
    bool directory = false;
    std::uint32_t entryBlock = 0;
    std::uint64_t uniqueId = 0;
};
// Returns the bytes of the directory whose data starts at partition block `firstBlock`.
std::vector<std::uint8_t> DirectoryIdentifiers(std::uint32_t firstBlock, std::uint32_t parentEntryBlock,
                                               const std::vector<UdfChild>& children);
std::size_t DirectoryIdentifiersSize(const std::vector<UdfChild>& children);

} // namespace qx::discimage
