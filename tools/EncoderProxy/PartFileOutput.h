// The converted stream's output: one file, continued in "<path>.part1" and "<path>.part2" when
// part files are allowed and a file reaches the part limit. Splits always fall on the limit,
// a multiple of 2048 bytes, so each file holds whole packs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qx::enc {

// One output file; tests inject failing ones (full disk, short writes).
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes all of `size` bytes or returns false with *error set.
    virtual bool Write(const uint8_t* data, size_t size, std::string* error) = 0;
    virtual bool Close(std::string* error) = 0;
};

using OutputFileOpener = std::function<std::unique_ptr<OutputFile>(const std::string& path, std::string* error)>;

// Creates a new plain file; fails when the name exists.
std::unique_ptr<OutputFile> OpenPosixOutputFile(const std::string& path, std::string* error);

class PartFileOutput {
public:
    // partLimit is rounded down to a multiple of 2048 (at least 2048).
    PartFileOutput(std::string path, bool partFiles, uint64_t partLimit, OutputFileOpener opener = OpenPosixOutputFile);
    ~PartFileOutput();

    // Each file is written under its WritingName and renamed to its own name by Close; with
    // part files, Close also removes part files left by an earlier, longer run of the output.
    bool Open(std::string* error);
    bool Write(const uint8_t* data, size_t size, std::string* error);
    bool Close(std::string* error);
    // Deletes every file this output wrote (after a failed conversion, so nothing half-written
    // is taken for a converted movie).
    void Discard();

    uint64_t TotalBytes() const { return total_; }
    const std::vector<std::string>& Files() const { return files_; }
    static std::string PartName(const std::string& path, int part);
    // The name a file is written under until the stream is complete ("<name>.writing").
    static std::string WritingName(const std::string& name);

private:
    bool NextFile(std::string* error);

    std::string path_;
    bool partFiles_;
    uint64_t limit_;
    OutputFileOpener opener_;
    std::unique_ptr<OutputFile> file_;
    uint64_t inFile_ = 0;
    uint64_t total_ = 0;
    std::vector<std::string> files_;
    std::vector<std::string> renamed_;
};

// Empty when `output` (and its part files when they are requested) may be written: each either
// missing or a regular file that is not `input` (same device and inode). Otherwise the reason.
std::string CheckOutputPath(const std::string& input, const std::string& output, bool partFiles);

} // namespace qx::enc
