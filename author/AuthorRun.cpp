#include "AuthorRun.h"

#include "AuthorError.h"

#include <cerrno>
#include <cstring>
#include <strings.h>

#include <dirent.h>
#include <sys/stat.h>

void AuthorWriteWholeFile(AuthorFileOpener& files, const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string why;
    std::unique_ptr<AuthorWriter> file = files.Open(path, AuthorOpenMode::Truncate, why);
    if (!file)
        AuthorFatal("ERR:  Error opening %s: %s\n", path.c_str(), why.c_str());
    bool written = file->Write(bytes.data(), bytes.size()) == bytes.size();
    if (!file->Close() || !written)
        AuthorWriteFailed(file.get(), path);
}

void AuthorMakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0)
        return;
    int error = errno;
    struct stat info;
    if (error == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return;
    AuthorFatal("ERR:  Error creating folder %s: %s\n", path.c_str(), std::strerror(error));
}

bool AuthorFileExistsNoCase(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (dirent* entry = readdir(dir))
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = true;
            break;
        }
    closedir(dir);
    return found;
}
