// Internal state of one ScanGroup run (see AuthorScan.h). Split over AuthorScan.cpp (sectors, files,
// VOBUs, times), AuthorScanVideo.cpp (video payload) and AuthorScanAudio.cpp (audio timelines).
#pragma once

#include "AuthorScan.h"

#include <cstdint>
#include <memory>
#include <string>

class AuthorScanner {
public:
    AuthorScanner(const std::string& baseName, PgcGroup& group, int kind, const AuthorScanOptions& options);
    void Run();

private:
    static constexpr int kSlots = 16;

    // Picture tracking of the current VOBU.
    struct PictureState {
        bool refPending = false;
        int gopStage = 1;
        int firstTempRef = -1;
        bool leading = false;
    };
    // Frame walk of one MPEG audio stream: offset of the next frame header relative to the next
    // packet's payload (negative: it starts in `tail`, the last 3 payload bytes of the previous packet).
    struct MpegAudioWalk {
        int nextOffset = 0;
        uint8_t tail[3] = {0, 0, 0};
    };

    void scanSource(AuthorSource& source);
    int readBlock(int& fd, AuthorSource& source, uint8_t* data, int size, int& partCounter, std::string& currentPath);
    bool processSector(AuthorSource& source, uint8_t* s);
    void startVobu(AuthorSource& source, const uint8_t* s);
    void closeVobu(AuthorSource& source);
    void fixPadding(uint8_t* s);
    void openVob();
    void flush(int pending);
    void closeVob(int pending);
    void computeTimes(AuthorSource& source);
    void logTimes(const AuthorSource& source);
    void statLine(const char* tail);

    // Video (AuthorScanVideo.cpp).
    void videoPacket(VobuInfo& vobu, uint8_t* s);
    void searchPass(VobuInfo& vobu, uint8_t* payload, int length);
    void startCode(VobuInfo& vobu, uint8_t* p, int sector);
    void recordRefEnd(VobuInfo& vobu, int sector);
    void sequenceEndInCarry(AuthorSource& source);

    // Audio and subpictures (AuthorScanAudio.cpp).
    void audioPacket(AuthorSource& source, uint8_t* s);
    void walkMpegAudio(int stream, const uint8_t* payload, int length, int& framesPrev, int& framesCur);
    void addEntry(AuthorSource& source, int channel, long long start, long long end, long long carried);

    std::string baseName_;
    PgcGroup& group_;
    int kind_;
    AuthorScanOptions options_;
    AuthorFileOpener* files_;

    int firstVob_;
    int vobNumber_;
    int vobSectors_ = -1;
    int groupSector_ = 0;
    long long totalSectors_ = 0;
    int totalVobus_ = 0;
    int numPgcs_ = 0;
    std::unique_ptr<AuthorWriter> out_;
    std::string outName_;
    std::unique_ptr<uint8_t[]> buffer_;
    int used_ = 0;

    // Per source.
    uint32_t lastScr_ = 0;
    bool haveScr_ = false;
    uint32_t offset_ = 0;
    bool haveVobu_ = false;
    int lastVideoSector_ = -1;
    uint8_t carry_[7];
    PictureState picture_;
    MpegAudioWalk mpegAudio_[8];
};

// Timestamp fields (top bit of 33 dropped on read, written as 0).
uint32_t AuthorReadScr(const uint8_t* p);        // p = pack header + 4
void AuthorWriteScr(uint8_t* p, uint32_t value); // keeps markers and the extension
uint32_t AuthorReadPts(const uint8_t* p);        // p = the 5 timestamp bytes
void AuthorWritePts(uint8_t* p, uint32_t value); // keeps the prefix and markers
