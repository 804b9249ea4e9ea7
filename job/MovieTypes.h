// The movie files the program offers and looks for: the open-file filter of "Add Video files" and
// the movies of a folder dropped on the source list. Only the types whose container FFmpeg reads
// here are named; probing still decides whether a file is a movie the encoder converts.
#pragma once

#include <string>
#include <vector>

// The open-file filter: "All support files(*.rm, *.rmvb)" first (the entry the dialog selects),
// then every movie type together, each type on its own, and all files.
std::string MovieOpenFilter();

// True when the file name ends in the extension of a movie type read here, in any case.
bool IsMovieFileName(const std::string& name);

// Bounds of a folder search, so a dropped home folder or a link loop cannot hold the list.
constexpr int kMostFolderDepth = 8;
constexpr size_t kMostFolderMovies = 1000;

struct GatheredMovies {
    std::vector<std::string> files; // in the order to add them
    std::vector<std::string> notes; // log lines ("Add Folder:...\n") for folders read in part or not at all
};

// Dropped paths made into the files to add: a file stays as it is, in its place; a folder gives
// the movies in it and in its sub-folders (names in natural order, so "Part 2" comes before
// "Part 10"; linked folders are not entered).
GatheredMovies GatherMovies(const std::vector<std::string>& paths);
