// The layer table of ARCHITECTURE.md against the code: every header a source file includes and every
// project library a CMake target links must come from the file's own folder or from a folder its row
// allows. A new edge the table does not allow fails here with the file and line that made it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSource = QX_SOURCE_DIR;

struct Table {
    std::vector<std::string> units;                   // "platform/gui", longest first
    std::map<std::string, std::set<std::string>> may; // unit -> units it may use
};

std::string WithoutSlash(std::string s) {
    while (!s.empty() && s.back() == '/') {
        s.pop_back();
    }
    return s;
}

// The rows of the table under "## The layers": `folder/` | holds | `a/`, `b/` or —.
Table ReadTable() {
    Table table;
    std::ifstream in(kSource / "ARCHITECTURE.md");
    std::string line;
    bool inLayers = false;
    const std::regex quoted("`([^`]+)`");
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0) {
            inLayers = line == "## The layers";
            continue;
        }
        if (!inLayers || line.rfind("| `", 0) != 0) {
            continue;
        }
        const size_t firstBar = line.find('|', 1);
        const size_t lastBar = line.rfind('|', line.size() - 2);
        std::smatch unit;
        const std::string first = line.substr(0, firstBar);
        if (!std::regex_search(first, unit, quoted)) {
            continue;
        }
        const std::string name = WithoutSlash(unit[1]);
        table.units.push_back(name);
        std::set<std::string>& allowed = table.may[name];
        const std::string last = line.substr(lastBar);
        for (std::sregex_iterator it(last.begin(), last.end(), quoted), end; it != end; ++it) {
            allowed.insert(WithoutSlash((*it)[1]));
        }
    }
    std::sort(table.units.begin(), table.units.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return table;
}

// The unit a path below the source folder belongs to ("" when none: tests, bench, cmake ...).
std::string UnitOf(const Table& table, const std::string& relative) {
    for (const std::string& unit : table.units) {
        if (relative.rfind(unit + "/", 0) == 0) {
            return unit;
        }
    }
    return {};
}

std::vector<fs::path> SourceFiles(const Table& table) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(kSource)) {
        const std::string relative = fs::relative(entry.path(), kSource).string();
        if (relative.rfind("build", 0) == 0 || relative.rfind(".git", 0) == 0 || UnitOf(table, relative).empty()) {
            continue;
        }
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h" || entry.path().filename() == "CMakeLists.txt")) {
            files.push_back(entry.path());
        }
    }
    return files;
}

bool Allowed(const Table& table, const std::string& from, const std::string& to) {
    if (from == to) {
        return true;
    }
    const auto row = table.may.find(from);
    return row != table.may.end() && row->second.count(to) != 0;
}

// Every include of a project header whose folder the including file's row does not allow.
std::vector<std::string> IncludeViolations(const Table& table, const std::vector<fs::path>& files) {
    std::map<std::string, std::set<std::string>> unitsOfHeader; // "Folders.h" -> {"platform"}
    for (const fs::path& file : files) {
        if (file.extension() == ".h") {
            unitsOfHeader[file.filename().string()].insert(UnitOf(table, fs::relative(file, kSource).string()));
        }
    }
    std::vector<std::string> violations;
    const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    for (const fs::path& file : files) {
        if (file.filename() == "CMakeLists.txt") {
            continue;
        }
        const std::string relative = fs::relative(file, kSource).string();
        const std::string from = UnitOf(table, relative);
        std::ifstream in(file);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch m;
            if (!std::regex_search(line, m, include)) {
                continue;
            }
            const std::string header = m[1];
            if (fs::exists(file.parent_path() / header)) {
                continue; // beside the file
            }
            const auto found = unitsOfHeader.find(fs::path(header).filename().string());
            if (found == unitsOfHeader.end()) {
                continue; // generated or a system header written with quotes
            }
            const bool ok = std::any_of(found->second.begin(), found->second.end(),
                                        [&](const std::string& to) { return Allowed(table, from, to); });
            if (!ok) {
                violations.push_back(relative + ":" + std::to_string(number) + " includes " + header + " (" + from +
                                     " -> " + *found->second.begin() + ")");
            }
        }
    }
    return violations;
}

// Every target_link_libraries of a project target to a project library the row does not allow.
std::vector<std::string> LinkViolations(const Table& table, const std::vector<fs::path>& files) {
    std::map<std::string, std::string> unitOfTarget;
    std::vector<std::pair<fs::path, std::string>> texts;
    const std::regex defines(R"((add_library|add_executable)\(\s*([A-Za-z0-9_.-]+))");
    for (const fs::path& file : files) {
        if (file.filename() != "CMakeLists.txt") {
            continue;
        }
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        texts.push_back({file, text.str()});
        const std::string unit = UnitOf(table, fs::relative(file, kSource).string());
        const std::string s = text.str();
        for (std::sregex_iterator it(s.begin(), s.end(), defines), end; it != end; ++it) {
            unitOfTarget[(*it)[2]] = unit;
        }
    }
    std::vector<std::string> violations;
    const std::regex links(R"(target_link_libraries\(([^)]*)\))");
    const std::regex word(R"([A-Za-z0-9_.:-]+)");
    for (const auto& [file, s] : texts) {
        for (std::sregex_iterator it(s.begin(), s.end(), links), end; it != end; ++it) {
            const std::string args = (*it)[1];
            std::vector<std::string> words;
            for (std::sregex_iterator w(args.begin(), args.end(), word), wend; w != wend; ++w) {
                words.push_back(w->str());
            }
            if (words.empty() || unitOfTarget.count(words[0]) == 0) {
                continue;
            }
            const std::string from = unitOfTarget[words[0]];
            for (size_t i = 1; i < words.size(); ++i) {
                const auto to = unitOfTarget.find(words[i]);
                if (to != unitOfTarget.end() && !Allowed(table, from, to->second)) {
                    violations.push_back(fs::relative(file, kSource).string() + ": " + words[0] + " links " +
                                         words[i] + " (" + from + " -> " + to->second + ")");
                }
            }
        }
    }
    return violations;
}

} // namespace

TEST(Layers, TheTableNamesEveryFolderThatHoldsCode) {
    const Table table = ReadTable();
    ASSERT_GE(table.units.size(), 10u) << "the table of ARCHITECTURE.md was not found";
    for (const std::string& unit : table.units) {
        EXPECT_TRUE(fs::is_directory(kSource / unit)) << unit << " is in the table but not in the tree";
        for (const std::string& to : table.may.at(unit)) {
            EXPECT_TRUE(table.may.count(to)) << unit << " may use " << to << ", which has no row";
        }
    }
    for (const char* folder : {"author", "discimage", "platform", "convert", "burn", "job", "ui", "app", "controls"}) {
        EXPECT_TRUE(table.may.count(folder)) << folder << " has no row";
    }
}

TEST(Layers, IncludesAndLinksFollowTheTable) {
    const Table table = ReadTable();
    const std::vector<fs::path> files = SourceFiles(table);
    ASSERT_GT(files.size(), 100u);
    const std::vector<std::string> includes = IncludeViolations(table, files);
    EXPECT_TRUE(includes.empty()) << ::testing::PrintToString(includes);
    const std::vector<std::string> linked = LinkViolations(table, files);
    EXPECT_TRUE(linked.empty()) << ::testing::PrintToString(linked);
}
