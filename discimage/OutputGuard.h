// The check that an output never replaces one of its own inputs: an image written over the movie it
// was made from, a disc image saved inside the folder being imaged, an authoring folder that holds the
// stream being authored. Plain C++17 + POSIX; every front-end calls it before it writes anything.
#pragma once

#include <string>
#include <vector>

namespace qx::discimage {

enum class OutputKind {
    File,   // one file, created or replaced (an image file, a virtual disc)
    Folder, // a folder whose files may all be created, replaced or deleted (VIDEO_TS being authored)
};

// The refusal when writing `output` could destroy an input, or "" when it may be written.
// `inputFiles` are the files the job reads (movies, streams and their part files, the files of a
// VIDEO_TS folder); `inputFolders` the folders it reads whole (the VIDEO_TS folder being imaged).
// Paths are compared after resolving every symbolic link (a missing tail is taken as written) and
// files by device and inode, so another name, a link or a hard link of an input counts as that input.
// Refused:
//   - an output that is an input file, or whose entries (for a Folder) include one;
//   - an output that is an input folder or lies inside one, at any depth;
//   - a Folder output that holds an input file or input folder, at any depth;
//   - an output whose path cannot be looked up (a loop of links, a folder that cannot be searched).
// Inputs that do not exist are skipped (nothing to destroy). The text names the output and the input
// it would destroy, as given (pass it through PrintableText before printing it on a terminal), e.g.
// "The output a.iso is the input movie.mpg (the same file); writing it would destroy that file".
std::string OutputRefusal(const std::string& output, OutputKind kind, const std::vector<std::string>& inputFiles,
                          const std::vector<std::string>& inputFolders = {});

// `path` as an absolute path with every symbolic link resolved and no "." or ".." left; the part past
// the first component that does not exist is taken as written. False with `error` set on a loop of
// links or a component that cannot be looked up (other than a missing one).
bool ResolvePath(const std::string& path, std::string* resolved, std::string* error);

} // namespace qx::discimage
