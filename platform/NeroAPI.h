/* The C interface of the second burning library, libNeroAPI.so: the program loads it at run time
 * (never links it) and reaches every entry point by name. The records are plain C so that the
 * library and the program agree on them byte for byte; everything the library allocates and hands
 * out (drive lists, disc information, error logs) is released with NeroFreeMem. */
#ifndef QX_NEROAPI_H
#define QX_NEROAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Drive device types. */
#define NERO_DEVICE_RECORDER 1
#define NERO_DEVICE_READER 2

/* Media bits: of the supported-media mask of a drive, of the media mask of the enumeration and the
 * media type of an inserted disc. A disc's type is the kind bit plus the bit of its family. */
#define NERO_MEDIA_CD 0x1u
#define NERO_MEDIA_DDCD 0x2u
#define NERO_MEDIA_DVD_M 0x4u /* the DVD-R family */
#define NERO_MEDIA_DVD_P 0x8u /* the DVD+R family */
#define NERO_MEDIA_DVD_RAM 0x10u
#define NERO_MEDIA_DVD_M_R 0x800u    /* with 0x4: DVD-R, 2052 */
#define NERO_MEDIA_DVD_M_RW 0x1000u  /* with 0x4: DVD-RW, 4100 */
#define NERO_MEDIA_DVD_P_R 0x2000u   /* with 0x8: DVD+R, 8200 */
#define NERO_MEDIA_DVD_P_RW 0x4000u  /* with 0x8: DVD+RW, 16392 */
#define NERO_MEDIA_DVD_P_R9 0x40000u /* DVD+R DL (as a drive mask bit: writes dual-layer media) */
#define NERO_MEDIA_DVD_M_R9 0x80000u /* DVD-R DL */
#define NERO_MEDIA_DVD_ANY 0xC001Cu

/* Results of NeroBurn. */
#define NERO_BURN_OK 0
#define NERO_BURN_FAILED 1
#define NERO_BURN_USER_ABORT 2
#define NERO_BURN_BAD_MEDIA 3 /* no disc, or a disc this drive cannot write */
#define NERO_BURN_NO_SPACE 4
#define NERO_BURN_BAD_SOURCE 5 /* the files could not be read or laid out */
#define NERO_BURN_VERIFY_FAILED 6 /* written, but the disc does not read back as written (error log: "verify: ...") */

/* Results of NeroGetDiscErasingTime: seconds, or one of these. */
#define NERO_ERASE_NO_DISC (-1)
#define NERO_ERASE_NOT_SUPPORTED (-2)
#define NERO_ERASE_NOT_REWRITABLE (-3)

/* Burn type of a file-system burn; burn flag that closes the disc. */
#define NERO_BURN_TYPE_FILE_SYSTEM 4
#define NERO_BURN_FLAG_CLOSE_DISC 4
#define NERO_BURN_FLAG_VERIFY 8 /* read the disc back and compare it after writing */

/* Flags of NeroGetCDInfo: read the tracks, and their lengths. */
#define NERO_INFO_TRACKS 3

#define NERO_SPEED_MAX 64

typedef struct NeroSpeeds {
    uint32_t count;                     /* speeds listed */
    uint32_t baseKBs;                   /* KB/s of 1x */
    uint32_t speedsKBs[NERO_SPEED_MAX]; /* ascending */
} NeroSpeeds;

typedef struct NeroDrive {
    char deviceName[64];
    char adapterName[8]; /* "Virtual" for the library's own image recorder */
    char driveLetter;    /* 0 when the drive has none */
    int32_t deviceType;  /* NERO_DEVICE_... */
    uint32_t mediaMask;  /* NERO_MEDIA_... bits the drive can write */
    NeroSpeeds readSpeeds;
    NeroSpeeds writeSpeeds;
    uint32_t driveId; /* the library's own reference */
} NeroDrive;

typedef struct NeroDriveList {
    uint32_t count;
    NeroDrive* drives; /* count records, in the same block as the list */
} NeroDriveList;

typedef struct NeroTrack {
    uint32_t startBlock;
    uint32_t lengthBlocks;
} NeroTrack;

typedef struct NeroDiscInfo {
    uint32_t mediaType;  /* 0: no disc */
    uint32_t freeBlocks; /* writable blocks of 2048 bytes */
    uint32_t trackCount;
    NeroTrack* tracks; /* trackCount records, in the same block */
} NeroDiscInfo;

typedef struct NeroDeviceHandle NeroDeviceHandle;

typedef int (*NeroIdleCallback)(void* userData);                             /* non-zero: abort */
typedef int (*NeroUserDialogCallback)(void* userData, int type, void* data); /* the answer */

typedef struct NeroSettings {
    const char* filesPath;
    const char* vendor;
    NeroIdleCallback idle;
    void* idleUserData;
    const char* software;
    NeroUserDialogCallback userDialog;
    void* userDialogUserData;
    const char* languageFile;
    uint32_t reserved[8];
} NeroSettings;

/* The files of a burn: a label and a tree of directories and files. */
typedef struct NeroFsDirectory NeroFsDirectory;
typedef struct NeroFileSystem NeroFileSystem;
struct NeroFileSystem {
    /* The disc label (at most 32 bytes); 0 when refused. */
    int (*SetName)(NeroFileSystem* self, const char* name);
    NeroFsDirectory* (*Root)(NeroFileSystem* self);
    /* A directory named `name` in `parent`; null when refused. `reserved` is -1. */
    NeroFsDirectory* (*AddDirectory)(NeroFileSystem* self, NeroFsDirectory* parent, const char* name, int reserved);
    /* A file named `name` in `parent` whose bytes come from `path`; 0 when refused. */
    int (*AddFile)(NeroFileSystem* self, NeroFsDirectory* parent, const char* name, const char* path, int reserved1,
                   int reserved2);
    void (*Release)(NeroFileSystem* self);
};

typedef struct NeroBurnRecord {
    uint32_t first;             /* 0 */
    NeroFileSystem* fileSystem; /* the files */
    uint32_t mediaType;         /* the disc the caller expects, 0: any */
    uint32_t flags;             /* 0x4000 */
    uint32_t reserved[8];
} NeroBurnRecord;

typedef int (*NeroProgressCallback)(void* userData, uint32_t percent); /* non-zero: abort */
typedef int (*NeroAbortedCallback)(void* userData);                    /* non-zero: abort */
typedef void (*NeroAddLogLineCallback)(void* userData, int type, const char* text);
typedef void (*NeroSetPhaseCallback)(void* userData, const char* text);
typedef void (*NeroDisableAbortCallback)(void* userData, int disable);
typedef void (*NeroSetMajorPhaseCallback)(void* userData, int phase, void* reserved);
typedef int (*NeroSubTaskProgressCallback)(void* userData, int task, uint32_t percent);

/* Major phases the library announces; percentages count while it writes the data. */
#define NERO_PHASE_PREPARING 1
#define NERO_PHASE_ERASING 20
#define NERO_PHASE_WRITING 36
#define NERO_PHASE_VERIFYING 38 /* reading the disc back; percentages count again from 0 */
#define NERO_PHASE_FINISHING 40
#define NERO_PHASE_DONE 99

typedef struct NeroProgress {
    NeroProgressCallback progress;
    NeroAbortedCallback aborted;
    NeroAddLogLineCallback addLogLine;
    NeroSetPhaseCallback setPhase;
    void* userData;
    NeroDisableAbortCallback disableAbort;
    NeroSetMajorPhaseCallback setMajorPhase;
    NeroSubTaskProgressCallback subTaskProgress;
} NeroProgress;

/* The entry points, as the program looks them up. */
typedef int (*NeroSetExpectedAPIVersionExFn)(uint16_t major, uint16_t minor, uint16_t release, uint16_t build,
                                             void* reserved);
typedef int (*NeroSetExpectedAPIVersionFn)(uint32_t version);
typedef int (*NeroGetAPIVersionExFn)(uint16_t* major, uint16_t* minor, uint16_t* release, uint16_t* build,
                                     void* reserved);
typedef uint32_t (*NeroGetAPIVersionFn)(void);
typedef int (*NeroInitFn)(const NeroSettings* settings, const char* reserved); /* 0: ready */
typedef NeroDriveList* (*NeroGetAvailableDrivesExFn)(uint32_t mediaMask, void* reserved);
typedef NeroDeviceHandle* (*NeroOpenDeviceFn)(const NeroDrive* drive);
typedef NeroDiscInfo* (*NeroGetCDInfoFn)(NeroDeviceHandle* device, uint32_t flags);
typedef int (*NeroGetDiscErasingTimeFn)(NeroDeviceHandle* device, int mode, uint32_t speedKBs);
typedef int (*NeroGetCDRWErasingTimeFn)(NeroDeviceHandle* device, int mode);
typedef int (*NeroEraseDiscFn)(NeroDeviceHandle* device, int mode, uint32_t flags);
typedef int (*NeroEraseCDRWFn)(NeroDeviceHandle* device, int mode);
typedef NeroFileSystem* (*NeroCreateFileSystemContainerFn)(void* reserved);
typedef int (*NeroBurnFn)(NeroDeviceHandle* device, int type, const NeroBurnRecord* record, uint32_t flags,
                          uint32_t speedKBs, const NeroProgress* progress);
typedef char* (*NeroGetErrorLogFn)(void);
typedef void (*NeroFreeMemFn)(void* memory);
typedef void (*NeroCloseDeviceFn)(NeroDeviceHandle* device);
typedef void (*NeroClearErrorsFn)(void);
typedef int (*NeroDoneFn)(void); /* 0: ended */

#ifdef __cplusplus
}
#endif

#endif
