// Virtual writers: a writers.ini section each; the disc's sectors live in an image file written
// through libburn's stdio pseudo-drive. The section supplies what a file cannot report: the media
// kind, blank state, capacity, speeds and injected failures. What a writer may do to its image
// (only its own, one burn or erase at a time, a new file renamed into place) is VirtualImage.h's.
#include "StarBurnDrive.h"
#include "VirtualImage.h"

#include "Folders.h"
#include "ProfileIni.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <strings.h>

namespace qx::starburn {

namespace {

// "value   ; remark" → "value" (a remark starts at a ';' or '#' after a blank).
std::string WithoutRemark(std::string value) {
    for (size_t i = 1; i < value.size(); ++i) {
        if ((value[i] == ';' || value[i] == '#') && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
            value.erase(i);
            break;
        }
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.pop_back();
    }
    return value;
}

bool ParseNumber(const std::string& text, long long low, long long high, long long* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno || *end || v < low || v > high) {
        return false;
    }
    *out = v;
    return true;
}

bool IsRewritable(int type) {
    return type == 3 || type == 6 || type == 7 || type == 8 || type == 9 || type == 12 || type == 19;
}

bool IsOverwritable(int type) {
    return type == 6 || type == 9;
}

class VirtualDrive : public Drive {
public:
    VirtualDrive(VirtualWriterConfig config, std::string file)
        : m_config(std::move(config)), m_strFile(std::move(file)) {}
    std::string Name() const override { return "V" + std::to_string(m_config.number); }

    DriveIdentity Identity() override {
        DriveIdentity id;
        id.vendor = "Virtual";
        id.product = m_config.name;
        // The writer's description says why it is not ready.
        const ImageLook look = LookAtImage(m_config.image);
        if (!look.usable) {
            id.product += " (not ready: " + look.problem + ")";
        }
        id.revision = "1.0";
        id.cacheBytes = 2 * 1024 * 1024;
        if (m_config.media == 4) {
            id.profiles = {0x10};
        } else {
            id.profiles = {0x09, 0x0A, 0x10, 0x11, 0x13, 0x14, 0x15, 0x1A, 0x1B, 0x2B};
            id.writesDvdR = true;
        }
        return id;
    }

    CallResult Snapshot(MediaSnapshot* m) override {
        Reload();
        *m = MediaSnapshot{};
        m->discType = m_config.media;
        const ImageLook look = LookAtImage(m_config.image);
        m->ready = m_config.media != 14 && m_config.fail != VirtualWriterConfig::Fail::NotReady && look.usable;
        if (!look.usable) {
            m->notReady = look.problem;
        }
        if (m_config.media != 4) {
            m->writeSpeeds = m_config.speeds;
        }
        m->readSpeeds = m_config.speeds;
        m->maxWrite = m->writeSpeeds.empty() ? 0 : m->writeSpeeds.back();
        m->maxRead = m->readSpeeds.empty() ? 0 : m->readSpeeds.back();
        m->bupSupported = true;
        if (!m->ready) {
            return {};
        }
        m->erasable = IsRewritable(m_config.media);
        m->trackAtOnce = m->sessionAtOnce = m_config.media != 4;
        if (!Written(look)) {
            m->discStatus = 0;
            m->nwaValid = true;
            m->freeSectors = m_config.capacity;
            return {};
        }
        const uint32_t usedSectors =
            static_cast<uint32_t>(std::min<uint64_t>((look.bytes + 2047) / 2048, m_config.capacity));
        m->discStatus = 2;
        m->sessions = 1;
        m->tocStarts = {0, usedSectors};
        m->tocValid = true;
        m->freeSectors = IsOverwritable(m_config.media) ? m_config.capacity - usedSectors : 0;
        return {};
    }

    CallResult Write(const WriteJob& job, ActiveDrive* active) override {
        Reload();
        if (m_config.media == 14 || m_config.fail == VirtualWriterConfig::Fail::NotReady) {
            return CallResult::Fail(EN_NOT_READY, "the unit is not ready");
        }
        if (m_config.media == 4 || m_config.media == 1 || m_config.media == 10) {
            return CallResult::Fail(EN_NOT_SUPPORTED, "the drive cannot write this disc");
        }
        ImageLock lock;
        ImageLook look;
        if (const CallResult locked = LockAndLook(&lock, &look); locked.code != EN_SUCCESS) {
            return locked;
        }
        if (Written(look) && !IsOverwritable(m_config.media)) {
            return CallResult::Fail(EN_NOT_SUPPORTED, "the disc is not blank");
        }
        if (job.tree->SizeInSectors() > m_config.capacity) {
            return CallResult::Fail(EN_NO_SPACE, "the track needs " + std::to_string(job.tree->SizeInSectors()) +
                                                     " sectors, the disc holds " + std::to_string(m_config.capacity));
        }
        RemoveStaleTemporaries(m_config.image);
        NewImage image;
        if (const CallResult made = image.Make(m_config.image, look.exists ? look.mode : 0, EN_WRITE_FAILURE);
            made.code != EN_SUCCESS) {
            return made;
        }
        WriteJob virtualJob = job;
        virtualJob.throttle = job.speed ? job.speed : (m_config.speeds.empty() ? 0 : m_config.speeds.back());
        if (m_config.fail == VirtualWriterConfig::Fail::Write) {
            virtualJob.failAtPercent = m_config.failPercent;
        } else if (m_config.fail == VirtualWriterConfig::Fail::Corrupt) {
            virtualJob.corruptPercent = m_config.failPercent;
        }
        CallResult result = WriteTrack(image.Address(), virtualJob, active);
        if (result.code != EN_SUCCESS) {
            return result;
        }
        // Looked at again: the user may have put another file there while the disc was written.
        const ImageLook now = LookAtImage(m_config.image);
        if (!now.usable || (Written(now) && !IsOverwritable(m_config.media))) {
            return CallResult::Fail(EN_WRITE_FAILURE,
                                    now.usable ? m_config.image + " was written meanwhile; it is kept" : now.problem);
        }
        result = image.Commit(EN_WRITE_FAILURE);
        if (result.code != EN_SUCCESS) {
            return result;
        }
        m_config.written = true;
        const Status saved = WritePrivateProfileString(m_config.section, "state", "written", m_strFile);
        if (!saved.ok()) {
            return CallResult::Fail(EN_WRITE_FAILURE,
                                    "the image is written, but its state was not saved: " + saved.error());
        }
        return {};
    }

    CallResult CloseSession() override {
        if (!m_config.written) {
            return CallResult::Fail(EN_NOT_SUPPORTED, "no session to close");
        }
        return {};
    }

    CallResult Blank(bool, ActiveDrive* active) override {
        Reload();
        if (m_config.media == 14 || m_config.fail == VirtualWriterConfig::Fail::NotReady) {
            return CallResult::Fail(EN_NOT_READY, "the unit is not ready");
        }
        if (!IsRewritable(m_config.media)) {
            return CallResult::Fail(EN_NOT_SUPPORTED, "the disc is not erasable");
        }
        if (m_config.fail == VirtualWriterConfig::Fail::Blank) {
            return CallResult::Fail(EN_BLANK_FAILURE, "the blank failed (injected blank failure)", EIO);
        }
        if (active->CancelRequested()) {
            return CallResult::Fail(EN_CANCELLED, "cancelled");
        }
        ImageLock lock;
        ImageLook look;
        if (const CallResult locked = LockAndLook(&lock, &look); locked.code != EN_SUCCESS) {
            return locked;
        }
        // A new empty file renamed into place; a missing or empty image is a blank disc already.
        if (look.bytes > 0) {
            RemoveStaleTemporaries(m_config.image);
            NewImage empty;
            CallResult r = empty.Make(m_config.image, look.mode, EN_BLANK_FAILURE);
            if (r.code == EN_SUCCESS) {
                r = empty.Commit(EN_BLANK_FAILURE);
            }
            if (r.code != EN_SUCCESS) {
                return r;
            }
        }
        m_config.written = false;
        const Status saved = WritePrivateProfileString(m_config.section, "state", "blank", m_strFile);
        if (!saved.ok()) {
            return CallResult::Fail(EN_BLANK_FAILURE,
                                    "the image is emptied, but its state was not saved: " + saved.error());
        }
        return {};
    }

    CallResult Eject() override { return {}; }

private:
    // writers.ini is the disc's state: another handle of the same writer may have written or
    // blanked it. A section that vanished or went bad keeps the last good values.
    void Reload() {
        for (VirtualWriterConfig& w : ReadVirtualWriters(m_strFile)) {
            if (w.number == m_config.number && w.section == m_config.section && w.error.empty()) {
                m_config = std::move(w);
                return;
            }
        }
    }

    // Only an image the writer may touch is locked (the lock file goes beside it), and it is looked
    // at again once locked.
    CallResult LockAndLook(ImageLock* lock, ImageLook* look) const {
        *look = LookAtImage(m_config.image);
        if (look->usable) {
            if (const CallResult locked = lock->Acquire(m_config.image); locked.code != EN_SUCCESS) {
                return locked;
            }
            *look = LookAtImage(m_config.image);
        }
        return look->usable ? CallResult{} : CallResult::Fail(EN_NOT_READY, look->problem);
    }

    // An image that holds data is a written disc, whatever writers.ini's state says: a written
    // write-once disc stays written.
    bool Written(const ImageLook& look) const { return m_config.written || look.bytes > 0; }

    VirtualWriterConfig m_config;
    std::string m_strFile;
};

} // namespace

std::string VirtualWritersFile() {
    return ConfigFolder() + "writers.ini";
}

std::vector<VirtualWriterConfig> ReadVirtualWriters(const std::string& file) {
    std::vector<VirtualWriterConfig> writers;
    const std::vector<std::string> sections = GetPrivateProfileSectionNames(file);
    for (size_t i = 0; i < sections.size(); ++i) {
        VirtualWriterConfig w;
        w.number = static_cast<int>(i) + 1;
        w.section = sections[i];
        std::vector<std::string> problems;
        for (size_t j = 0; j < i; ++j) {
            // The profile rules read the first section of a name: a second one is never used.
            if (strcasecmp(sections[j].c_str(), sections[i].c_str()) == 0) {
                problems.push_back("a second section of this name (only the first is read)");
                break;
            }
        }
        auto value = [&](const char* key) { return WithoutRemark(GetPrivateProfileString(w.section, key, "", file)); };
        w.name = value("name");
        if (w.name.empty()) {
            w.name = "Virtual DVD writer";
        }
        w.image = value("image");
        if (w.image.empty() || w.image[0] != '/') {
            problems.push_back("image must be an absolute path");
        }
        long long n = 0;
        const std::string media = value("media");
        if (media.empty()) {
            w.media = 5;
        } else if (ParseNumber(media, 0, 22, &n)) {
            w.media = static_cast<int>(n);
        } else {
            problems.push_back("media must be a disc type code 0..22");
        }
        const std::string capacity = value("capacity");
        if (!capacity.empty()) {
            if (ParseNumber(capacity, 1, 0xFFFFFFFFLL, &n)) {
                w.capacity = static_cast<uint32_t>(n);
            } else {
                problems.push_back("capacity must be a sector count");
            }
        }
        const std::string state = value("state");
        if (state == "written") {
            w.written = true;
        } else if (!state.empty() && state != "blank") {
            problems.push_back("state must be blank or written");
        }
        std::stringstream speeds(value("speeds").empty() ? std::string("1385,2770,5540,11080,16620,22160")
                                                         : value("speeds"));
        for (std::string item; std::getline(speeds, item, ',');) {
            item.erase(0, item.find_first_not_of(" \t"));
            item.erase(item.find_last_not_of(" \t") + 1);
            // Below 1x DVD (1385 KB/s) the speed tables would show 0x and the write could not be paced.
            if (ParseNumber(item, 1385, 1000000, &n)) {
                w.speeds.push_back(static_cast<unsigned long>(n));
            } else {
                problems.push_back("speeds must be KB/s numbers of at least 1385 (1x DVD) separated by commas");
                break;
            }
        }
        std::sort(w.speeds.begin(), w.speeds.end());
        w.speeds.erase(std::unique(w.speeds.begin(), w.speeds.end()), w.speeds.end());
        const std::string fail = value("fail");
        if (fail.empty() || fail == "none") {
            w.fail = VirtualWriterConfig::Fail::None;
        } else if (fail == "notready") {
            w.fail = VirtualWriterConfig::Fail::NotReady;
        } else if (fail == "blank") {
            w.fail = VirtualWriterConfig::Fail::Blank;
        } else if (fail.rfind("write:", 0) == 0 && ParseNumber(fail.substr(6), 0, 100, &n)) {
            w.fail = VirtualWriterConfig::Fail::Write;
            w.failPercent = static_cast<int>(n);
        } else if (fail.rfind("corrupt:", 0) == 0 && ParseNumber(fail.substr(8), 0, 100, &n)) {
            w.fail = VirtualWriterConfig::Fail::Corrupt;
            w.failPercent = static_cast<int>(n);
        } else {
            problems.push_back("fail must be none, notready, blank, write:N or corrupt:N (N 0..100)");
        }
        for (const std::string& p : problems) {
            w.error += (w.error.empty() ? "" : "; ") + p;
        }
        writers.push_back(std::move(w));
    }
    return writers;
}

std::unique_ptr<Drive> MakeVirtualDrive(const VirtualWriterConfig& config, const std::string& file) {
    return std::make_unique<VirtualDrive>(config, file);
}

std::string VirtualWriterNotReady(const VirtualWriterConfig& config) {
    return LookAtImage(config.image).problem;
}

} // namespace qx::starburn
