#include "BurnSupport.h"

#include "Device.h"

#include <QDir>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace burntest {

std::vector<std::string> FilesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir)) {
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) {
                names.push_back(e->d_name);
            }
        }
        closedir(dir);
    }
    return names;
}

std::string WritersFile() {
    return qxtest::TestRoot() + "config/qxmoviedisc/writers.ini";
}

void WriteWriters(const std::vector<VirtualWriter>& writers) {
    QDir().mkpath(QString::fromStdString(qxtest::TestRoot() + "config/qxmoviedisc"));
    std::ofstream out(WritersFile(), std::ios::trunc);
    int n = 0;
    for (const VirtualWriter& w : writers) {
        out << "[Writer " << ++n << "]\n";
        auto key = [&](const char* k, const std::string& v) {
            if (!v.empty()) {
                out << k << "=" << v << "\n";
            }
        };
        key("name", w.name);
        key("image", w.image);
        key("media", w.media);
        key("capacity", w.capacity);
        key("state", w.state);
        key("speeds", w.speeds);
        key("fail", w.fail);
        out << "\n";
    }
}

bool PatternTree::ReadSectors(uint64_t first, uint32_t count, uint8_t* buffer, std::string* error) {
    if (first + count > m_sectors) {
        *error = "past the end";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t n = first + i;
        if (n >= m_failAt) {
            *error = "VTS_01_1.VOB changed size";
            return false;
        }
        uint8_t* s = buffer + static_cast<size_t>(i) * 2048;
        std::memset(s, static_cast<int>(n & 0xFF), 2048);
        std::memcpy(s + 8, &n, sizeof n);
        if (n == 16) {
            std::memcpy(s,
                        "\x01"
                        "CD001"
                        "\x01",
                        7); // a disc image, as virtual writers require
        }
    }
    return true;
}

bool PatternTree::SectorMatches(const uint8_t* sector, uint64_t number) {
    uint64_t stored = 0;
    std::memcpy(&stored, sector + 8, sizeof stored);
    return stored == number && sector[2047] == static_cast<uint8_t>(number & 0xFF);
}

void Lines::Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(line);
}

std::vector<std::string> Lines::All() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

bool Lines::Has(const std::string& line) const {
    const auto all = All();
    return std::find(all.begin(), all.end(), line) != all.end();
}

bool Lines::InOrder(const std::vector<std::string>& expected) const {
    const auto all = All();
    size_t at = 0;
    for (const std::string& line : all) {
        if (at < expected.size() && line == expected[at]) {
            ++at;
        }
    }
    return at == expected.size();
}

EngineMessages::EngineMessages() {
    m_ids[0] = AddEngineMessageHook(0, [this](int, const std::string& text) { trace.Add(text); });
    m_ids[1] = AddEngineMessageHook(1, [this](int severity, const std::string& text) {
        status.Add(text);
        if (severity == 3) {
            errorStatus.Add(text);
        }
    });
}

EngineMessages::~EngineMessages() {
    RemoveEngineMessageHook(m_ids[0]);
    RemoveEngineMessageHook(m_ids[1]);
}

} // namespace burntest
