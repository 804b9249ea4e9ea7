#include "DvdLeftovers.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace {

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The folder's entries by lower-case name; one name may have several spellings on Linux.
std::map<std::string, std::vector<std::string>> listFolder(const std::string& folder) {
    std::map<std::string, std::vector<std::string>> entries;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return entries;
    while (dirent* entry = readdir(dir))
        entries[lowerCase(entry->d_name)].push_back(entry->d_name);
    closedir(dir);
    return entries;
}

class LeftoverScan {
public:
    LeftoverScan(const std::string& folder, bool checkOnly, const std::function<void()>& pump)
        : m_folder(folder), m_checkOnly(checkOnly), m_pump(pump), m_entries(listFolder(folder)) {
        if (!m_folder.empty() && m_folder.back() != '/')
            m_folder += '/';
    }

    // Returns true when the name exists (and was handled).
    bool probe(const std::string& lowerName) {
        bool exists = false;
        auto it = m_entries.find(lowerName);
        if (it != m_entries.end() && !it->second.empty()) {
            exists = true;
            if (!m_checkOnly) {
                for (const std::string& spelling : it->second) {
                    std::string path = m_folder + spelling;
                    if (unlink(path.c_str()) != 0 && m_error.empty())
                        m_error = "cannot delete " + path + ": " + std::strerror(errno);
                }
                m_entries.erase(it);
            }
        }
        if (m_pump)
            m_pump();
        return exists;
    }

    const std::string& error() const { return m_error; }

private:
    std::string m_folder;
    bool m_checkOnly;
    const std::function<void()>& m_pump;
    std::map<std::string, std::vector<std::string>> m_entries;
    std::string m_error;
};

std::vector<std::string> titleSetNames(int set) {
    char name[64];
    std::vector<std::string> names;
    auto add = [&](const char* format, int k) {
        std::snprintf(name, sizeof name, format, set, k);
        names.push_back(name);
    };
    add("vts_%02d_0.ifo", 0);
    add("vts_%02d_0.vob", 0);
    for (int k = 1; k <= 100; ++k)
        add("vts_%02d_%d.vob", k);
    add("vts_%02d_0.dat", 0);
    for (int k = 1; k <= 100; ++k)
        add("vts_%02d_%d.dat", k);
    names.push_back("video_ts.dat");
    add("vts_%02d_0.bup", 0);
    return names;
}

} // namespace

int FindOrDeleteDvdFiles(const std::string& folder, bool checkOnly, const std::function<void()>& pump,
                         std::string* error) {
    LeftoverScan scan(folder, checkOnly, pump);
    auto finish = [&](int result) {
        if (error)
            *error = scan.error();
        return scan.error().empty() ? result : -1;
    };
    for (const char* name : {"video_ts.ifo", "video_ts.bup", "video_ts.vob"})
        if (scan.probe(name) && checkOnly)
            return finish(1);
    for (int set = 1;; ++set) {
        for (const std::string& name : titleSetNames(set)) {
            bool exists = scan.probe(name);
            if (exists && checkOnly)
                return finish(1);
            // Title sets 1..99 are probed in full; beyond them the scan stops at the first gap.
            if (!exists && set >= 100)
                return finish(0);
        }
    }
}
