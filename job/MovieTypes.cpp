#include "MovieTypes.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

struct MovieType {
    const char* label;
    std::vector<std::string> extensions;
    const char* demuxer; // FFmpeg's reader of the container
};

const std::vector<MovieType>& AllTypes() {
    static const std::vector<MovieType> types = {
        {"MPEG-4 and QuickTime movies", {"mp4", "m4v", "mov", "3gp"}, "mov"},
        {"Matroska and WebM movies", {"mkv", "webm"}, "matroska"},
        {"AVI movies", {"avi"}, "avi"},
        {"Windows Media movies", {"wmv", "asf"}, "asf"},
        {"Flash movies", {"flv"}, "flv"},
        {"MPEG movies", {"mpg", "mpeg", "vob"}, "mpeg"},
        {"MPEG transport streams", {"ts", "m2ts", "mts"}, "mpegts"},
        {"Ogg movies", {"ogv"}, "ogg"},
        {"RealMedia movies", {"rm", "rmvb"}, "rm"},
    };
    return types;
}

// The types whose container this machine's FFmpeg reads.
const std::vector<MovieType>& TypesReadHere() {
    static const std::vector<MovieType> here = [] {
        std::vector<MovieType> found;
        for (const MovieType& type : AllTypes())
            if (av_find_input_format(type.demuxer) != nullptr)
                found.push_back(type);
        return found;
    }();
    return here;
}

std::string Patterns(const std::vector<std::string>& extensions) {
    std::string text;
    for (const std::string& ext : extensions)
        text += "*." + ext + ";";
    return text;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "Part 2" before "Part 10": runs of digits compare by their value, the rest without regard to case.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && IsDigit(a[ie]))
                ++ie;
            while (je < b.size() && IsDigit(b[je]))
                ++je;
            size_t is = i, js = j; // past leading zeros
            while (is + 1 < ie && a[is] == '0')
                ++is;
            while (js + 1 < je && b[js] == '0')
                ++js;
            if (ie - is != je - js)
                return ie - is < je - js;
            const int order = a.compare(is, ie - is, b, js, je - js);
            if (order != 0)
                return order < 0;
            i = ie;
            j = je;
            continue;
        }
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[j]));
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b; // the same but for case and zeros: any fixed order
}

class FolderSearch {
public:
    explicit FolderSearch(GatheredMovies* out) : out_(out) {}

    void Search(const std::filesystem::path& folder, int depth) {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            out_->notes.push_back("Add Folder:" + folder.string() + " Failed cannot read it: " + ec.message() + "\n");
            return;
        }
        std::vector<std::string> files, folders;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec)
                break;
            const fs::directory_entry& entry = *it;
            const std::string name = entry.path().filename().string();
            std::error_code kind;
            if (entry.is_directory(kind) && !entry.is_symlink(kind)) {
                folders.push_back(name);
            } else if (entry.is_regular_file(kind) && IsMovieFileName(name)) {
                files.push_back(name);
            }
        }
        if (ec)
            out_->notes.push_back("Add Folder:" + folder.string() + " Failed cannot read all of it: " + ec.message() +
                                  "\n");
        std::sort(files.begin(), files.end(), NaturalLess);
        std::sort(folders.begin(), folders.end(), NaturalLess);
        for (const std::string& name : files) {
            if (Full(folder))
                return;
            out_->files.push_back((folder / name).string());
            ++taken_;
        }
        for (const std::string& name : folders) {
            if (depth + 1 > kMostFolderDepth) {
                out_->notes.push_back("Add Folder:" + (folder / name).string() + " Skipped deeper than " +
                                      std::to_string(kMostFolderDepth) + " folders\n");
                continue;
            }
            Search(folder / name, depth + 1);
            if (taken_ >= kMostFolderMovies)
                return;
        }
    }

private:
    bool Full(const std::filesystem::path& folder) {
        if (taken_ < kMostFolderMovies)
            return false;
        if (!reported_)
            out_->notes.push_back("Add Folder:" + folder.string() + " Stopped after " +
                                  std::to_string(kMostFolderMovies) + " movies\n");
        reported_ = true;
        return true;
    }

    GatheredMovies* out_;
    size_t taken_ = 0;
    bool reported_ = false;
};

} // namespace

std::string MovieOpenFilter() {
    std::string filter = "All support files(*.rm, *.rmvb)|*.rm; *.rmvb;|";
    std::vector<std::string> every;
    for (const MovieType& type : TypesReadHere())
        every.insert(every.end(), type.extensions.begin(), type.extensions.end());
    filter += "All movies|" + Patterns(every) + "|";
    for (const MovieType& type : TypesReadHere())
        filter += std::string(type.label) + "|" + Patterns(type.extensions) + "|";
    return filter + "All files|*||";
}

bool IsMovieFileName(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    const std::string ext = Lower(name.substr(dot + 1));
    for (const MovieType& type : TypesReadHere())
        if (std::find(type.extensions.begin(), type.extensions.end(), ext) != type.extensions.end())
            return true;
    return false;
}

GatheredMovies GatherMovies(const std::vector<std::string>& paths) {
    GatheredMovies out;
    for (const std::string& path : paths) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            // Each dropped folder has its own allowance.
            FolderSearch(&out).Search(path, 0);
        } else {
            out.files.push_back(path); // probing decides, and says so, whatever it is
        }
    }
    return out;
}
