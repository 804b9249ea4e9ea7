#include "MemoryFilesSupport.h"

#include "AuthorLog.h"

#include <algorithm>
#include <cstring>

namespace {

class MemoryWriter : public AuthorWriter {
public:
    MemoryWriter(MemoryFiles& owner, std::vector<unsigned char>& file) : m_owner(owner), m_file(file) {}
    size_t Write(const void* data, size_t size) override {
        size_t accepted = size;
        if (m_owner.failWritesAfter >= 0 && m_owner.written + static_cast<long long>(size) > m_owner.failWritesAfter)
            accepted = static_cast<size_t>(std::max(0LL, m_owner.failWritesAfter - m_owner.written));
        if (m_position + accepted > m_file.size())
            m_file.resize(m_position + accepted);
        std::memcpy(m_file.data() + m_position, data, accepted);
        m_position += accepted;
        m_owner.written += static_cast<long long>(accepted);
        return accepted;
    }
    bool Seek(long long offset) override {
        m_position = static_cast<size_t>(offset);
        return true;
    }
    bool Close() override { return true; }

private:
    MemoryFiles& m_owner;
    std::vector<unsigned char>& m_file;
    size_t m_position = 0;
};

} // namespace

std::unique_ptr<AuthorWriter> MemoryFiles::Open(const std::string& path, AuthorOpenMode mode, std::string& error) {
    if (!failOpenContaining.empty() && path.find(failOpenContaining) != std::string::npos) {
        error = "Permission denied";
        return nullptr;
    }
    auto it = files.find(path);
    if (it == files.end() && mode == AuthorOpenMode::Update) {
        error = "No such file or directory";
        return nullptr;
    }
    std::vector<unsigned char>& file = files[path];
    if (mode == AuthorOpenMode::Truncate)
        file.clear();
    opened.push_back(path);
    return std::make_unique<MemoryWriter>(*this, file);
}

LogRecorder::LogRecorder() {
    AuthorLogSetHandler([this](int, const char* text) {
        lines.push_back(text);
        return 0;
    });
}

LogRecorder::~LogRecorder() {
    AuthorLogSetHandler({});
}

std::string LogRecorder::all() const {
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

std::unique_ptr<AuthorSource> MakeSource(const std::vector<TestVobu>& vobus, int vobId) {
    auto source = std::make_unique<AuthorSource>();
    source->path = "test.mpg";
    source->vobId = vobId;
    for (const TestVobu& t : vobus) {
        VobuInfo v;
        v.firstSector = t.first;
        v.lastSector = t.last;
        v.vobSector = t.first;
        v.vobNumber = 1;
        v.hasVideo = t.video;
        v.vobuStart = v.videoStart = t.start;
        v.vobuEnd = v.videoEnd = t.end;
        v.cellKey = vobId * 256 + t.cell;
        source->vobus.push_back(v);
    }
    int count = static_cast<int>(source->vobus.size());
    for (int i = 0; i < count; ++i) {
        VobuInfo& v = source->vobus[i];
        v.cellStart = i == 0 || source->vobus[i - 1].cellKey != v.cellKey;
        v.cellFirstVobu = v.cellStart ? i : source->vobus[i - 1].cellFirstVobu;
    }
    for (int i = count - 1; i >= 0; --i) {
        VobuInfo& v = source->vobus[i];
        v.cellLastVobu =
            i + 1 < count && source->vobus[i + 1].cellKey == v.cellKey ? source->vobus[i + 1].cellLastVobu : i;
        if (v.cellStart)
            source->cells.push_back({v.cellFirstVobu, v.cellLastVobu});
    }
    std::reverse(source->cells.begin(), source->cells.end());
    return source;
}

std::unique_ptr<PgcGroup> MakeGroup(std::unique_ptr<AuthorSource> source) {
    auto group = std::make_unique<PgcGroup>(GROUP_TITLES);
    group->attributes.video.frameRate = 3;
    group->attributes.video.tvFormat = TV_PAL;
    group->attributes.video.mpegFormat = MPEG_2;
    group->attributes.video.resolution = RES_720_FULL;
    group->attributes.video.aspect = ASPECT_4_3;
    auto pgc = std::make_unique<ProgramChain>();
    AuthorSourceRef ref;
    ref.path = source->path;
    ref.source = source.get();
    AuthorCellSpec spec;
    spec.firstCell = 1;
    spec.endCell = static_cast<int>(source->cells.size()) + 1;
    ref.cells.push_back(spec);
    pgc->sources.push_back(ref);
    pgc->numCells = static_cast<int>(source->cells.size());
    pgc->numPrograms = pgc->numChapters = 1;
    group->pgcs.push_back(std::move(pgc));
    group->sources.push_back(std::move(source));
    return group;
}
