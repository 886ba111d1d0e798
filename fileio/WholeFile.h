#pragma once
// Whole-file reading, and replacing a file so that it is never left half old, half new: the INI
// layer and the XML unit both keep their files through these.

#include <string>
#include <string_view>
#include <vector>

enum class TFileReadResult { Read, Missing, OpenFailed, ReadFailed, TooLarge };

// The file's bytes into content; content is empty unless the answer is Read.
TFileReadResult ReadWholeFile(const std::string& fileName, std::string& content);

// The same for a file that must be a regular file (a link to one is fine) of at most maxSize bytes:
// anything else, a FIFO or a device included, answers ReadFailed at once without blocking.
TFileReadResult ReadSmallRegularFile(const std::string& fileName, size_t maxSize, std::string& content);

// The same for a file named on a command line, which may also be a pipe: a regular file, a FIFO or
// a pipe read until its writer closes it, or a device read as far as it has bytes ready. More than
// maxSize bytes answer TooLarge as soon as they are seen, so that neither a large file nor an
// endless writer is read through; a device with nothing ready (a terminal) answers ReadFailed at
// once rather than waiting for it.
TFileReadResult ReadBoundedFile(const std::string& fileName, size_t maxSize, std::string& content);

enum class TFileWriteResult { Written, CreateFailed, WriteFailed };

struct TWholeFile {
    std::string FileName;
    std::string Content;
};

// Replaces a file in two steps, so that a caller can find out whether the file can be written at
// all before it builds the content. The content goes to a new file beside the target, which then
// takes the target's place in one rename. Where the folder takes no new file but the file itself
// is writable, the file is overwritten in place instead, its room reserved first so that a full
// disk is found before a byte is changed. Symbolic links are written through to their target; a
// read-only file, or anything but a regular file, is never replaced.
class TSafeFileWriter {
public:
    explicit TSafeFileWriter(const std::string& fileName);
    ~TSafeFileWriter();
    TSafeFileWriter(const TSafeFileWriter&) = delete;
    TSafeFileWriter& operator=(const TSafeFileWriter&) = delete;

    // False: the file cannot be created or replaced, and Commit would answer CreateFailed.
    bool Opened() const { return Fd_ >= 0; }
    // Writes content and puts it in the file's place, flushed to the disk. Once only.
    TFileWriteResult Commit(std::string_view content);

private:
    friend std::vector<TFileWriteResult> WriteWholeFiles(const std::vector<TWholeFile>& files);

    bool InPlace() const { return Temporary_.empty(); }
    // The content into the new file (into the file itself when in place); false after discarding it.
    bool Write(std::string_view content);
    // Closes the new file, durable by now, and puts it in the target's place; the folder is not flushed.
    TFileWriteResult Replace();
    void Discard();

    std::string Target_;
    std::string Temporary_;  // empty when writing in place
    int Fd_ = -1;
};

TFileWriteResult WriteWholeFile(const std::string& fileName, std::string_view content);

// Replaces each file as WriteWholeFile does, with the same guarantees, but flushes the disk once for
// many files: the new files are all written first, made durable by one flush of their file system,
// then renamed, and each folder is flushed once. A fleet's files cost two flushes instead of two
// each. The answers are in the order of the files; a file that fails leaves its target as it was.
std::vector<TFileWriteResult> WriteWholeFiles(const std::vector<TWholeFile>& files);
