// The burning library of the built-in engine: discovery of writers by SCSI-style address, burner
// handles with the queries, write, blank, close and eject calls, and the DVD-Video image. Real
// writers are driven through libburn; virtual writers (writers.ini in the configuration folder)
// write image files through libburn's stdio pseudo-drive and add what a file cannot report (media
// kind, blank state, capacity, speeds, injected failures).
//
// Conventions of every burner call: the handle, a buffer for the exception text and its size, the
// status variable (an errno-style code, 0 when none), then the call's own arguments. The result is
// 0 (EN_SUCCESS) or the exception code; the text then says what failed. Callbacks run on the
// thread that made the call.
//
// A handle never holds a drive between calls: each query opens the drive, reads what it needs and
// releases it, so the desktop can still mount the disc. Discovery is refused while a write or a
// blank runs (it would invalidate the drive that is being written).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum StarBurnException : long {
    EN_SUCCESS = 0,
    EN_GENERIC_FAILURE = 1,
    EN_INVALID_PARAMETER = 2,
    EN_NOT_INITIALIZED = 3,
    EN_BUSY = 4,           // discovery while a write or blank runs, or a drive in use elsewhere
    EN_NO_DEVICE = 5,      // no writer at this address (since the last discovery)
    EN_NOT_READY = 6,      // no disc, or the drive does not answer
    EN_NOT_SUPPORTED = 7,  // the disc or drive cannot do this
    EN_NO_SPACE = 8,       // the track does not fit on the disc
    EN_WRITE_FAILURE = 9,  // writing failed (drive, disc or source)
    EN_BLANK_FAILURE = 10, // blanking failed
    EN_CANCELLED = 11,     // Cancel was called
    EN_IMAGE_FAILURE = 12, // the DVD-Video image could not be made or read
};

// Burn callback events.
enum StarBurnEvent : long {
    CN_TARGET_FILE_ANALYZE_BEGIN = 4,
    CN_TARGET_FILE_ANALYZE_END = 5, // param1: int64 bytes, param2: int64 sectors
    CN_WAIT_CACHE_FULL_BEGIN = 6,   // param1: long milliseconds at most
    CN_WAIT_CACHE_FULL_END = 7,
    CN_SYNCHRONIZE_CACHE_BEGIN = 8,
    CN_SYNCHRONIZE_CACHE_END = 9,
    CN_DEVICE_FOUND = 10,        // discovery; param1: SCSI_DEVICE_ADDRESS
    CN_CDVD_WRITE_PROGRESS = 12, // param1: int64 total bytes, param2: int64 bytes written
    CN_DVDPLUSRW_FORMAT_BEGIN = 21,
    CN_DVDPLUSRW_FORMAT_END = 22,
    CN_DVDRW_QUICK_FORMAT_BEGIN = 30,
    CN_DVDRW_QUICK_FORMAT_END = 31,
};

using STARBURN_CALLBACK = void (*)(long event, void* context, void* param1, void* param2);

// Bytes 1..4 are port (host adapter), bus (channel), target and LUN.
struct SCSI_DEVICE_ADDRESS {
    uint8_t size = sizeof(SCSI_DEVICE_ADDRESS);
    uint8_t port = 0;
    uint8_t bus = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
};

// Virtual writers live on this port; their target is their number in writers.ini (1, 2, ...).
constexpr uint8_t kStarBurnVirtualPort = 255;

struct StarBurnGrabber;
using CDVD_BURNER_GRABBER = StarBurnGrabber*;

// The data of one track, read sector by sector while it is written (the DVD-Video image).
class StarBurnTree {
public:
    virtual ~StarBurnTree() = default;
    virtual uint64_t SizeInSectors() const = 0;
    // Fills count × 2048 bytes; false with `error` set when the data cannot be read.
    virtual bool ReadSectors(uint64_t first, uint32_t count, uint8_t* buffer, std::string* error) = 0;
};

// Basic formats: read CD-ROM, read/write CD-R, read/write CD-RW, read DVD-ROM, read/write DVD-R,
// read/write DVD-RAM.
struct STARBURN_SUPPORTED_MEDIA_FORMATS {
    bool readCdRom, readCdR, writeCdR, readCdRw, writeCdRw, readDvdRom, readDvdR, writeDvdR, readDvdRam, writeDvdRam;
};
// Extended formats: read/write DVD+RW, read/write DVD+R, read/write DVD+R DL.
struct STARBURN_SUPPORTED_MEDIA_FORMATS_EX {
    bool readDvdPlusRw, writeDvdPlusRw, readDvdPlusR, writeDvdPlusR, readDvdPlusRDl, writeDvdPlusRDl;
};
// Write flags per DVD kind; `size` is set by the caller to the record's size.
struct STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS {
    uint32_t size = sizeof(STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS);
    bool writeDvdR = false, writeDvdRw = false, writeDvdRDl = false, writeDvdPlusR = false, writeDvdPlusRw = false,
         writeDvdPlusRDl = false, writeDvdRam = false, writeBdR = false, writeBdRe = false;
};

struct STARBURN_DISC_INFORMATION {
    int discStatus = 0; // 0 empty, 1 incomplete (appendable), 2 complete
    bool erasable = false;
    int sessions = 0;
    int tracks = 0;
};

struct STARBURN_TRACK_INFORMATION {
    int trackNumber = 0;
    bool blank = false;
    bool nwaValid = false;
    uint32_t nwa = 0;     // next writable address
    uint32_t freeLBs = 0; // writable sectors left
    uint32_t startLBA = 0;
};

// Recorded tracks in order; an appendable write-once DVD (DVD-R, DVD+R) lists its invisible track
// next; the lead-out (start = end of the recorded area) comes last. `tracks` counts every entry.
struct STARBURN_TOC_INFORMATION {
    bool isValid = false;
    bool isDVD = false;
    int sessions = 0;
    int tracks = 0;
    uint32_t startLBA[101] = {};
};

// Library start and end (the end cancels running work and waits for the drives). Counted: the
// library ends with the last DownShut.
long StarBurn_UpStartEx(void* startupBlock, unsigned long size);
void StarBurn_DownShut();
// A copy of this library inside a run-time-loaded library shares libburn with the program's copy:
// it passes false so that its last DownShut leaves libburn running for the other.
void StarBurn_SetEndsLibburn(bool ends);

// Scans real writers (bounded), then lists the virtual ones; CN_DEVICE_FOUND per writer.
long StarBurn_FindDevice(int deviceType, int flags, STARBURN_CALLBACK callback, void* context);
// "/dev/sr0" for a real writer, "V1" for virtual writer 1; `name` holds 1024 bytes.
long StarBurn_GetDeviceNameByDeviceAddress(uint8_t port, uint8_t bus, uint8_t target, uint8_t lun, char* name);

long StarBurn_CdvdBurnerGrabber_Create(CDVD_BURNER_GRABBER* handle, char* text, unsigned long textSize,
                                       unsigned long* status, STARBURN_CALLBACK callback, void* context, uint8_t port,
                                       uint8_t bus, uint8_t target, uint8_t lun, unsigned long flags);
void StarBurn_Destroy(CDVD_BURNER_GRABBER* handle);

long StarBurn_CdvdBurnerGrabber_TestUnitReady(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                              unsigned long* status);
// Vendor, product, revision: 1024 bytes each.
long StarBurn_CdvdBurnerGrabber_GetDeviceInformation(CDVD_BURNER_GRABBER handle, char* vendor, char* product,
                                                     char* revision, unsigned long* cacheBytes);
long StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                                         unsigned long* status,
                                                         STARBURN_SUPPORTED_MEDIA_FORMATS* formats);
long StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(CDVD_BURNER_GRABBER handle, char* text,
                                                             unsigned long textSize, unsigned long* status,
                                                             STARBURN_SUPPORTED_MEDIA_FORMATS_EX* formats);
long StarBurn_CdvdBurnerGrabber_GetAdvancedSupportedMediaFormats(CDVD_BURNER_GRABBER handle, char* text,
                                                                 unsigned long textSize, unsigned long* status,
                                                                 STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS* formats);
// The inserted disc's type code (14 "No Media"; the names belong to the caller).
int StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(CDVD_BURNER_GRABBER handle);
long StarBurn_CdvdBurnerGrabber_GetDiscInformation(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                                   unsigned long* status, STARBURN_DISC_INFORMATION* info);
// Track 255 is the invisible (next writable) track.
long StarBurn_CdvdBurnerGrabber_GetTrackInformation(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                                    unsigned long* status, int track, STARBURN_TRACK_INFORMATION* info);
void StarBurn_SetFastReadTOC(bool fast);
long StarBurn_CdvdBurnerGrabber_GetTOCInformation(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                                  unsigned long* status, STARBURN_TOC_INFORMATION* toc);
// Speeds in KB/s; 65535 asks for the drive's maximum (which leaves that speed as it is).
long StarBurn_CdvdBurnerGrabber_SetSpeeds(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                          unsigned long* status, unsigned long readSpeed, unsigned long writeSpeed);
long StarBurn_CdvdBurnerGrabber_GetSpeeds(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                          unsigned long* status, unsigned long* currentRead, unsigned long* maxRead,
                                          unsigned long* currentWrite, unsigned long* maxWrite);
long StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                                         unsigned long* status, bool* trackAtOnce, bool* sessionAtOnce,
                                                         bool* discAtOncePQ, bool* discAtOnceRawPW);
long StarBurn_CdvdBurnerGrabber_GetBUP(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                       unsigned long* status, bool* enabled, bool* supported);
long StarBurn_CdvdBurnerGrabber_SetBUP(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                       unsigned long* status, bool enable);
long StarBurn_CdvdBurnerGrabber_SendOPC(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                        unsigned long* status);
// Writes the tree as one track. closeTrack: close the track (and the disc) after writing;
// testWrite: simulate; reserved: 0; underrunProtection: use the drive's protection; cacheSeconds:
// how long to wait for the drive's cache to fill. Runs until written, failed or cancelled, with the
// burn callback's events on the calling thread.
long StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                                    unsigned long* status, StarBurnTree* tree, bool closeTrack,
                                                    bool testWrite, bool reserved, bool underrunProtection,
                                                    int cacheSeconds);
long StarBurn_CdvdBurnerGrabber_CloseSession(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                             unsigned long* status);
long StarBurn_CdvdBurnerGrabber_Eject(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                      unsigned long* status);
// fast: a minimal blank (the disc's file system and table of contents only).
long StarBurn_CdvdBurnerGrabber_Blank(CDVD_BURNER_GRABBER handle, char* text, unsigned long textSize,
                                      unsigned long* status, bool fast);
// From any thread: stops a running write or blank; the call returns EN_CANCELLED.
void StarBurn_CdvdBurnerGrabber_Cancel(CDVD_BURNER_GRABBER handle);

// The DVD-Video image of a VIDEO_TS folder (ISO 9660 + UDF bridge), streamed while it is written.
struct StarBurnDvdVideo;
long StarBurn_DVDVideo_Create(StarBurnDvdVideo** image, const char* folder, bool checkFiles, char* text,
                              unsigned long textSize, unsigned long* status, const char* volumeLabel,
                              const char* publisher, const char* preparer, int year, int month, int day, int hour,
                              int minute, int second, int flags);
long StarBurn_DVDVideo_GetSizeInUCHARs(StarBurnDvdVideo* image, int64_t* size);
long StarBurn_DVDVideo_GetTreePointer(StarBurnDvdVideo* image, StarBurnTree** tree);
void StarBurn_DVDVideo_Destroy(StarBurnDvdVideo* image);

// Why sections of the virtual writers' file are left out of the writer list, and why listed virtual
// writers are not ready (their image is not one they may write), one line each.
std::vector<std::string> StarBurn_VirtualWriterProblems();

// The inserted-disc type code of a libburn profile number (0x00 → 14 "No Media", 0x11 → 5 ...).
int StarBurnDiscTypeOfProfile(int profile);
