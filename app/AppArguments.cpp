#include "AppArguments.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>

namespace {

bool ToAbsolutePath(const std::string& arg, const std::string& currentFolder, std::string* path, std::string* error) {
    QString text = QString::fromStdString(arg);
    static const QRegularExpression otherAddress("^(?!file://)[a-z][a-z0-9+.-]*://",
                                                 QRegularExpression::CaseInsensitiveOption);
    if (otherAddress.match(text).hasMatch()) {
        *error = "'" + arg + "' is a web address; only files on this computer can be added";
        return false;
    }
    if (text.startsWith("file:", Qt::CaseInsensitive)) {
        const QUrl url(text, QUrl::StrictMode);
        const bool local = url.isValid() && url.isLocalFile() &&
                           (url.host().isEmpty() || url.host().compare("localhost", Qt::CaseInsensitive) == 0);
        text = url.path(QUrl::FullyDecoded);
        if (!local || !text.startsWith('/')) {
            *error = "'" + arg + "' names no file on this computer";
            return false;
        }
    }
    if (text.isEmpty()) {
        *error = "an empty file name was given";
        return false;
    }
    // Kept as given apart from the folder: a name the user typed stays recognisable in the list.
    const QString absolute =
        QDir::isAbsolutePath(text) ? text : QDir(QString::fromStdString(currentFolder)).absoluteFilePath(text);
    *path = QDir::cleanPath(absolute).toStdString();
    return true;
}

} // namespace

bool ParseAppArguments(const std::vector<std::string>& args, const std::string& currentFolder, AppArguments* out,
                       std::string* error) {
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            out->help = true;
            continue;
        }
        if (!optionsEnded && arg == "--version") {
            out->version = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        }
        std::string path;
        if (!ToAbsolutePath(arg, currentFolder, &path, error)) {
            return false;
        }
        out->files.push_back(path);
    }
    return true;
}

std::string AppUsage() {
    return "usage: QXMovieDisc [MOVIE...]\n"
           "Opens the QX Movie Disc window; each MOVIE (.rm, .rmvb, a path or a file:// address) is\n"
           "added to the list as if chosen with \"Add Video files\". Use -- before names that begin with '-'.\n"
           "  --help      this text\n"
           "  --version   the program's version\n";
}

std::string AppVersionText() {
    return std::string("QX Movie Disc ") + QX_VERSION + "\n";
}
