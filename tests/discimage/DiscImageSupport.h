// Folders and images for the disc-image tests: DVD-Video folders authored by the real engine from
// generated streams, a fixed clock, and image files written through the library.
#pragma once

#include "DvdVideoImage.h"
#include "IfoProbeSupport.h"

#include <string>
#include <sys/types.h>
#include <vector>

// 8 December 2026 14:30:15 at UTC+01:00.
std::tm FixedTime();
qx::discimage::ImageDescriptor TestDescriptor(const std::string& label = "Test Movie");

// Authors `outputFolder`/VIDEO_TS: one title set per entry of `titlesPerSet`, each title a generated
// NTSC stream of `seconds` seconds; title VOBs split every `vobSectorLimit` sectors (0 = 1 GiB).
// Returns the VIDEO_TS folder; fails the test when authoring fails.
std::string AuthorFolder(const std::string& outputFolder, const std::vector<int>& titlesPerSet, int seconds,
                         int vobSectorLimit = 0);

// Makes the single title of an authored one-set folder fill `vobs` title VOBs of 1 GiB less 16
// sectors each (sparse: the real VOB's bytes, then holes) and mends the set's last sector to match.
constexpr std::uint64_t kFullVobSectors = 524272;
void InflateTitleVobs(const std::string& videoTsFolder, int vobs);

// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);

// Copies every file of `from` into the new folder `to`.
void CopyFolder(const std::string& from, const std::string& to);

// All bytes of an image, read through ReadSectors in chunks of `chunk` sectors.
Bytes ImageBytes(qx::discimage::DvdVideoImage& image, std::uint32_t chunk = 37);

// Writes the image to `path` leaving every all-zero chunk as a hole (for images of sparse folders).
void WriteSparseImage(qx::discimage::DvdVideoImage& image, const std::string& path);

// File extents `isoinfo -l` lists under /VIDEO_TS: name (without ";1") -> (first sector, size).
struct IsoExtent {
    std::uint64_t sector = 0;
    std::uint64_t size = 0;
};
std::vector<std::pair<std::string, IsoExtent>> IsoinfoVideoTsExtents(const std::string& iso);

// `key=value` lines that `udfinfo` prints for an image.
std::vector<std::pair<std::string, std::string>> UdfinfoFields(const std::string& iso);
std::string Field(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& key);

// Waits (at most 60 s) until process `pid` has a file of `folder` open that holds bytes: named or not
// yet named (O_TMPFILE). False when that did not happen.
bool WaitUntilWriting(pid_t pid, const std::string& folder);
