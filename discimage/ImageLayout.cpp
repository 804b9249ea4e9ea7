// Placing the structures and files of the image. Absolute sectors:
//   0-15 zero, 16 ISO primary volume descriptor, 17 ISO terminator, 18-20 BEA01 NSR02 TEA01,
//   21/22 ISO path tables (L, M), 32-47 main and 48-63 reserve UDF volume descriptor sequence,
//   64-65 integrity sequence, 256 anchor, 257 partition start, last sector the second anchor.
// Partition blocks: 0 file set descriptor, 1 terminator, then the root, AUDIO_TS and VIDEO_TS entries
// each followed by its directory data, one entry per file, the ISO 9660 directory extents, and the
// files one after the other in disc order.
#include "DiscText.h"
#include "ImageBytes.h"
#include "ImageImpl.h"
#include "IsoDescriptors.h"
#include "UdfDescriptors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qx::discimage {
namespace {

constexpr std::uint32_t kIsoPrimary = 16;
constexpr std::uint32_t kRecognition = 18;
constexpr std::uint32_t kPathTableL = 21;
constexpr std::uint32_t kPathTableM = 22;
constexpr std::uint32_t kMainSequence = 32;
constexpr std::uint32_t kReserveSequence = 48;
constexpr std::uint32_t kIntegrity = 64;
constexpr std::uint32_t kAnchor = 256;
constexpr std::uint32_t kPartitionStart = 257;
constexpr std::uint64_t kRootUniqueId = 0;
constexpr std::uint64_t kFirstUniqueId = 16; // 1-15 are reserved

std::uint32_t sectorsFor(std::uint64_t bytes) {
    return static_cast<std::uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

std::uint32_t hashText(const std::u32string& text, std::uint32_t seed) {
    std::uint32_t h = 2166136261u ^ seed;
    for (char32_t c : text)
        h = (h ^ static_cast<std::uint32_t>(c)) * 16777619u;
    return h;
}

std::u32string ascii(const std::string& text) {
    return std::u32string(text.begin(), text.end());
}

} // namespace

bool PlanImage(std::vector<ImageFile> files, const ImageDescriptor& descriptor, DvdVideoImage::Impl* image,
               std::string* error) {
    std::u32string label, publisher, preparer;
    if (!DecodeUtf8(descriptor.label, &label) || !DecodeUtf8(descriptor.publisher, &publisher) ||
        !DecodeUtf8(descriptor.preparer, &preparer)) {
        *error = "The disc label and publisher must be valid UTF-8 text without control characters";
        return false;
    }
    if (label.size() > kMaxLabelCharacters) {
        *error = "The disc label \"" + descriptor.label + "\" is longer than 32 characters";
        return false;
    }
    if (label.empty())
        label = U"DVD_VIDEO";
    for (const ImageFile& file : files)
        if (file.name.size() > 12 || file.size > (std::uint64_t(1) << 30)) {
            *error = file.name + " cannot be put on a DVD-Video disc";
            return false;
        }

    // Partition blocks, in the order of the comment at the top.
    std::vector<std::size_t> byName(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        byName[i] = i;
    std::sort(byName.begin(), byName.end(),
              [&](std::size_t a, std::size_t b) { return files[a].name < files[b].name; });

    const std::uint32_t rootEntry = 2;
    std::vector<UdfChild> rootChildren = {{"AUDIO_TS", true, 0, kFirstUniqueId},
                                          {"VIDEO_TS", true, 0, kFirstUniqueId + 1}};
    const std::uint32_t rootData = rootEntry + 1;
    const std::uint32_t audioEntry = rootData + sectorsFor(DirectoryIdentifiersSize(rootChildren));
    const std::uint32_t audioData = audioEntry + 1;
    const std::uint32_t videoEntry = audioData + sectorsFor(DirectoryIdentifiersSize({}));
    const std::uint32_t videoData = videoEntry + 1;
    rootChildren[0].entryBlock = audioEntry;
    rootChildren[1].entryBlock = videoEntry;
    std::vector<UdfChild> videoChildren;
    for (std::size_t i : byName)
        videoChildren.push_back({files[i].name, false, 0, kFirstUniqueId + 2 + i});
    const std::uint32_t firstFileEntry = videoData + sectorsFor(DirectoryIdentifiersSize(videoChildren));
    for (std::size_t k = 0; k < byName.size(); ++k)
        videoChildren[k].entryBlock = firstFileEntry + static_cast<std::uint32_t>(byName[k]);

    const std::uint32_t isoRootBlock = firstFileEntry + static_cast<std::uint32_t>(files.size());
    const std::uint32_t isoAudioBlock = isoRootBlock + 1;
    const std::uint32_t isoVideoBlock = isoAudioBlock + 1;
    std::vector<IsoRecord> videoRecords = {{std::string(1, '\0'), true, 0, 0}, {std::string(1, '\1'), true, 0, 0}};
    for (std::size_t i : byName)
        videoRecords.push_back({files[i].name + ";1", false, 0, static_cast<std::uint32_t>(files[i].size)});
    const std::uint32_t isoVideoSectors = IsoDirectorySectors(videoRecords);
    const std::uint32_t firstDataBlock = isoVideoBlock + isoVideoSectors;

    std::uint64_t block = firstDataBlock;
    image->fileSector.clear();
    for (const ImageFile& file : files) {
        image->fileSector.push_back(kPartitionStart + block);
        block += sectorsFor(file.size);
    }
    const std::uint64_t partitionLength = block;
    const std::uint64_t total = kPartitionStart + partitionLength + 1;
    if (total > 0xFFFFFFFFull) {
        *error = "The folder is too large for a disc";
        return false;
    }
    image->dataStart = kPartitionStart + firstDataBlock;
    image->totalSectors = total;
    image->head.assign(image->dataStart * kSectorSize, 0);
    image->anchor.assign(kSectorSize, 0);
    auto sector = [&](std::uint64_t s) { return image->head.data() + s * kSectorSize; };
    auto block0 = [&](std::uint32_t b) { return sector(kPartitionStart + b); };

    UdfVolume volume;
    volume.label = label;
    volume.publisher = publisher;
    volume.preparer = preparer;
    // The volume set identifier starts with 16 hex digits that tell volumes apart (from the clock and the
    // label, so the same input gives the same bytes), then the label.
    const std::tm& t = descriptor.localTime;
    char setId[17];
    std::u32string stamp =
        ascii(std::to_string(t.tm_year) + "/" + std::to_string(t.tm_mon) + "/" + std::to_string(t.tm_mday) + " " +
              std::to_string(t.tm_hour) + ":" + std::to_string(t.tm_min) + ":" + std::to_string(t.tm_sec));
    std::snprintf(setId, sizeof setId, "%08X%08X", hashText(stamp, 1), hashText(label, 2));
    volume.volumeSetId = ascii(setId) + label;
    volume.time = descriptor.localTime;
    volume.partitionStart = kPartitionStart;
    volume.partitionLength = static_cast<std::uint32_t>(partitionLength);
    volume.mainSequence = kMainSequence;
    volume.reserveSequence = kReserveSequence;
    volume.integritySequence = kIntegrity;
    volume.files = static_cast<std::uint32_t>(files.size());
    volume.directories = 3;
    volume.nextUniqueId = kFirstUniqueId + 2 + files.size();

    // ISO 9660 volume space and directories.
    const std::tm& time = descriptor.localTime;
    std::uint32_t isoRoot = kPartitionStart + isoRootBlock, isoAudio = kPartitionStart + isoAudioBlock,
                  isoVideo = kPartitionStart + isoVideoBlock;
    IsoRecord rootSelf{std::string(1, '\0'), true, isoRoot, kSectorSize};
    std::vector<IsoRecord> rootRecords = {rootSelf,
                                          {std::string(1, '\1'), true, isoRoot, kSectorSize},
                                          {"AUDIO_TS", true, isoAudio, kSectorSize},
                                          {"VIDEO_TS", true, isoVideo, isoVideoSectors * kSectorSize}};
    std::vector<IsoRecord> audioRecords = {{std::string(1, '\0'), true, isoAudio, kSectorSize},
                                           {std::string(1, '\1'), true, isoRoot, kSectorSize}};
    videoRecords[0].sector = isoVideo;
    videoRecords[0].size = isoVideoSectors * kSectorSize;
    videoRecords[1].sector = isoRoot;
    videoRecords[1].size = kSectorSize;
    for (std::size_t k = 0; k < byName.size(); ++k)
        videoRecords[2 + k].sector = static_cast<std::uint32_t>(image->fileSector[byName[k]]);
    std::vector<IsoPathEntry> paths = {
        {std::string(1, '\0'), isoRoot, 1}, {"AUDIO_TS", isoAudio, 1}, {"VIDEO_TS", isoVideo, 1}};
    std::vector<std::uint8_t> pathL = IsoPathTable(paths, false), pathM = IsoPathTable(paths, true);
    std::memcpy(sector(kPathTableL), pathL.data(), pathL.size());
    std::memcpy(sector(kPathTableM), pathM.data(), pathM.size());
    IsoVolume iso;
    iso.volumeId = IsoVolumeLabel(label);
    iso.publisher = IsoText(publisher);
    iso.preparer = IsoText(preparer);
    iso.time = time;
    iso.sectors = static_cast<std::uint32_t>(total);
    iso.pathTableSize = static_cast<std::uint32_t>(pathL.size());
    iso.pathTableL = kPathTableL;
    iso.pathTableM = kPathTableM;
    iso.root = rootSelf;
    WriteIsoPrimary(sector(kIsoPrimary), iso);
    WriteIsoTerminator(sector(kIsoPrimary + 1));
    WriteRecognition(sector(kRecognition), "BEA01");
    WriteRecognition(sector(kRecognition + 1), "NSR02");
    WriteRecognition(sector(kRecognition + 2), "TEA01");
    for (auto [records, at] :
         {std::pair{&rootRecords, isoRoot}, {&audioRecords, isoAudio}, {&videoRecords, isoVideo}}) {
        std::vector<std::uint8_t> extent = IsoDirectory(*records, time);
        std::memcpy(sector(at), extent.data(), extent.size());
    }

    // UDF volume structures.
    WriteVolumeSequence(sector(kMainSequence), kMainSequence, volume);
    WriteVolumeSequence(sector(kReserveSequence), kReserveSequence, volume);
    WriteIntegritySequence(sector(kIntegrity), volume);
    WriteAnchor(sector(kAnchor), kAnchor, volume);
    WriteAnchor(image->anchor.data(), static_cast<std::uint32_t>(total - 1), volume);

    // UDF file set, directories and file entries.
    WriteFileSet(block0(0), volume, rootEntry);
    auto directory = [&](std::uint32_t entry, std::uint32_t data, std::uint32_t parent, std::uint64_t id,
                         const std::vector<UdfChild>& children, std::uint16_t links) {
        std::vector<std::uint8_t> bytes = DirectoryIdentifiers(data, parent, children);
        std::memcpy(block0(data), bytes.data(), bytes.size());
        WriteFileEntry(block0(entry), {true, entry, data, bytes.size(), links, id}, time);
    };
    // A directory's link count is the number of identifiers naming it: its parent's, and the parent
    // entry of each subdirectory (the root names itself as its own parent).
    directory(rootEntry, rootData, rootEntry, kRootUniqueId, rootChildren, 3);
    directory(audioEntry, audioData, rootEntry, kFirstUniqueId, {}, 1);
    directory(videoEntry, videoData, rootEntry, kFirstUniqueId + 1, videoChildren, 1);
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::uint32_t entry = firstFileEntry + static_cast<std::uint32_t>(i);
        std::uint32_t data = static_cast<std::uint32_t>(image->fileSector[i] - kPartitionStart);
        WriteFileEntry(block0(entry), {false, entry, data, files[i].size, 1, kFirstUniqueId + 2 + i}, time);
    }
    image->files = std::move(files);
    return true;
}

} // namespace qx::discimage
