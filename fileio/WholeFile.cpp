#include "WholeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t ReadChunk = 65536;

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR)
            continue;
        // A write that takes nothing would take nothing again: give up instead of spinning.
        if (written <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The file a name stands for once symbolic links are followed, so that saving writes through a link
// instead of replacing it. A link that leads nowhere names the file to create; empty when the links
// go round in a loop.
std::string LinkTarget(const std::string& fileName)
{
    constexpr int MaxLinks = 40;
    std::filesystem::path target = fileName;
    std::error_code error;
    for (int links = 0; std::filesystem::is_symlink(target, error); ++links) {
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error || links == MaxLinks)
            return {};
        target = target.parent_path() / next;  // an absolute next replaces the whole path
    }
    return target.string();
}

// A name beside the target that no other writer uses, created exclusively; -1 when the folder does
// not take new files (errno tells why).
int CreateTemporaryBeside(const std::string& target, std::string& temporaryName)
{
    constexpr int Attempts = 100;
    const std::filesystem::path path = target;
    // Appended, not "." + name: GCC 12 takes the insert at the front for an overlapping copy (-Wrestrict).
    std::string hidden = ".";
    hidden += path.filename().string();
    hidden += '.';
    const std::string prefix = (path.parent_path() / hidden).string();
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        temporaryName = prefix + std::to_string(::getpid()) + "_" + std::to_string(attempt);
        const int fd = ::open(temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool FolderRefusesNewFiles(int error)
{
    return error == EACCES || error == EPERM || error == EROFS;
}

// Without this the rename may reach the disk after a crash, or not at all; nothing is lost by
// failing to, so the answer is not needed.
void FlushFolder(const std::string& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

void FlushFolderOf(const std::string& fileName)
{
    FlushFolder(std::filesystem::path(fileName).parent_path().string());
}

// A file system that cannot reserve room says so; that is no reason to refuse the write.
bool ReserveRoom(int fd, size_t size)
{
    if (size == 0)
        return true;
    const int error = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    return error == 0 || error == EOPNOTSUPP || error == EINVAL;
}

// Reads an opened file to its end into content, failing once it holds more than limit bytes.
TFileReadResult ReadOpenedFile(int fd, size_t limit, std::string& content)
{
    // Room for the whole file and the read that finds its end.
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
        content.reserve(std::min(static_cast<size_t>(status.st_size), limit) + ReadChunk);
    // Read straight into the string: no second copy of a large file is ever held.
    size_t used = 0;
    ssize_t got = 0;
    do {
        if (content.size() - used < ReadChunk)
            content.resize(std::max(content.capacity(), used + ReadChunk));
        got = ::read(fd, content.data() + used, content.size() - used);
        if (got > 0)
            used += static_cast<size_t>(got);
    } while ((got > 0 && used <= limit) || (got < 0 && errno == EINTR));
    ::close(fd);
    const bool read = got == 0;
    content.resize(read ? used : 0);
    return read ? TFileReadResult::Read : TFileReadResult::ReadFailed;
}

// Opens for reading without waiting: a FIFO with no writer yet must not hold the open, a device the
// reads. Read when fd is open and status tells what it is; fd is closed on any other answer.
TFileReadResult OpenWithoutWaiting(const std::string& fileName, int& fd, struct stat& status)
{
    fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? TFileReadResult::Missing : TFileReadResult::OpenFailed;
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        return TFileReadResult::ReadFailed;
    }
    return TFileReadResult::Read;
}

}  // namespace

TFileReadResult ReadWholeFile(const std::string& fileName, std::string& content)
{
    content.clear();
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? TFileReadResult::Missing : TFileReadResult::OpenFailed;
    return ReadOpenedFile(fd, SIZE_MAX, content);
}

TFileReadResult ReadSmallRegularFile(const std::string& fileName, size_t maxSize, std::string& content)
{
    content.clear();
    int fd = -1;
    struct stat status {};
    if (const TFileReadResult opened = OpenWithoutWaiting(fileName, fd, status); opened != TFileReadResult::Read)
        return opened;
    if (!S_ISREG(status.st_mode) || static_cast<uintmax_t>(status.st_size) > maxSize) {
        ::close(fd);
        return TFileReadResult::ReadFailed;
    }
    return ReadOpenedFile(fd, maxSize, content);
}

TFileReadResult ReadBoundedFile(const std::string& fileName, size_t maxSize, std::string& content)
{
    content.clear();
    int fd = -1;
    struct stat status {};
    if (const TFileReadResult opened = OpenWithoutWaiting(fileName, fd, status); opened != TFileReadResult::Read)
        return opened;
    if (S_ISREG(status.st_mode) && static_cast<uintmax_t>(status.st_size) > maxSize) {
        ::close(fd);
        return TFileReadResult::TooLarge;
    }
    // A pipe is waited on, as any reader of a pipeline waits; poll, unlike a read, does not take a
    // FIFO whose writer has not come yet for one that has ended.
    const bool pipe = S_ISFIFO(status.st_mode);
    // One byte past the limit tells that the file is larger.
    const size_t limit = maxSize == SIZE_MAX ? maxSize : maxSize + 1;
    size_t used = 0;
    TFileReadResult result = TFileReadResult::ReadFailed;
    for (;;) {
        if (pipe) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
                break;
        }
        if (content.size() == used)
            content.resize(std::min(limit, used + ReadChunk));
        const ssize_t got = ::read(fd, content.data() + used, content.size() - used);
        if (got > 0) {
            used += static_cast<size_t>(got);
            if (used > maxSize) {
                result = TFileReadResult::TooLarge;
                break;
            }
        } else if (got == 0) {
            result = TFileReadResult::Read;
            break;
        } else if (errno != EINTR && !(pipe && errno == EAGAIN)) {
            break;
        }
    }
    ::close(fd);
    content.resize(result == TFileReadResult::Read ? used : 0);
    return result;
}

TSafeFileWriter::TSafeFileWriter(const std::string& fileName) : Target_(LinkTarget(fileName))
{
    if (Target_.empty())
        return;
    struct stat previous {};
    const bool replacing = ::stat(Target_.c_str(), &previous) == 0;
    // A read-only file stays unwritten, although the rename alone would get past it.
    if (replacing && (!S_ISREG(previous.st_mode) || ::access(Target_.c_str(), W_OK) != 0))
        return;

    Fd_ = CreateTemporaryBeside(Target_, Temporary_);
    if (Fd_ >= 0) {
        // A replaced file keeps its permissions.
        if (replacing)
            ::fchmod(Fd_, previous.st_mode & 07777);
        return;
    }
    Temporary_.clear();
    if (!replacing || !FolderRefusesNewFiles(errno))
        return;
    // Read access lets the room reservation keep what it does not need to touch.
    Fd_ = ::open(Target_.c_str(), O_RDWR | O_CLOEXEC);
    if (Fd_ < 0)
        Fd_ = ::open(Target_.c_str(), O_WRONLY | O_CLOEXEC);
}

TSafeFileWriter::~TSafeFileWriter()
{
    Discard();
}

void TSafeFileWriter::Discard()
{
    if (Fd_ >= 0)
        ::close(Fd_);
    Fd_ = -1;
    if (!Temporary_.empty())
        ::unlink(Temporary_.c_str());
    Temporary_.clear();
}

bool TSafeFileWriter::Write(std::string_view content)
{
    // A file overwritten in place is the target itself: it is flushed at once, whoever flushes the rest.
    const bool written = InPlace() ? ReserveRoom(Fd_, content.size()) && WriteAll(Fd_, content) &&
                                         ::ftruncate(Fd_, static_cast<off_t>(content.size())) == 0 && ::fsync(Fd_) == 0
                                   : WriteAll(Fd_, content);
    if (!written)
        Discard();
    return written;
}

TFileWriteResult TSafeFileWriter::Replace()
{
    const int fd = Fd_;
    Fd_ = -1;
    if (::close(fd) != 0) {
        Discard();
        return TFileWriteResult::WriteFailed;
    }
    if (InPlace())
        return TFileWriteResult::Written;
    if (::rename(Temporary_.c_str(), Target_.c_str()) != 0) {
        Discard();
        return TFileWriteResult::CreateFailed;
    }
    Temporary_.clear();
    return TFileWriteResult::Written;
}

TFileWriteResult TSafeFileWriter::Commit(std::string_view content)
{
    if (Fd_ < 0)
        return TFileWriteResult::CreateFailed;
    if (!Write(content) || (!InPlace() && ::fsync(Fd_) != 0)) {
        Discard();
        return TFileWriteResult::WriteFailed;
    }
    const bool inPlace = InPlace();
    const TFileWriteResult result = Replace();
    if (result == TFileWriteResult::Written && !inPlace)
        FlushFolderOf(Target_);
    return result;
}

TFileWriteResult WriteWholeFile(const std::string& fileName, std::string_view content)
{
    return TSafeFileWriter(fileName).Commit(content);
}

namespace {

// Files held open at once by a batch, well below the usual limit of 1024 descriptors.
constexpr size_t BatchOpenFiles = 256;

// Makes the new files behind the descriptors durable: one flush of each file system that holds
// several of them, an fsync for a file alone on its own (no need to flush what others wrote there).
// False for the files that could not be flushed.
std::vector<bool> FlushNewFiles(const std::vector<int>& fds)
{
    std::vector<bool> flushed(fds.size(), false);
    std::map<dev_t, std::vector<size_t>> byFileSystem;
    for (size_t i = 0; i < fds.size(); ++i) {
        struct stat status {};
        if (::fstat(fds[i], &status) == 0)
            byFileSystem[status.st_dev].push_back(i);
    }
    for (const auto& [device, files] : byFileSystem) {
        // syncfs reports the write errors of the file system since its descriptor was opened: the
        // first one's, opened before the others, covers them all.
        const int first = fds[files.front()];
        const bool ok = files.size() == 1 ? ::fsync(first) == 0 : ::syncfs(first) == 0;
        for (size_t i : files)
            flushed[i] = ok;
    }
    return flushed;
}

}  // namespace

std::vector<TFileWriteResult> WriteWholeFiles(const std::vector<TWholeFile>& files)
{
    std::vector<TFileWriteResult> results(files.size(), TFileWriteResult::Written);
    for (size_t first = 0; first < files.size(); first += BatchOpenFiles) {
        const size_t end = std::min(files.size(), first + BatchOpenFiles);
        std::vector<std::unique_ptr<TSafeFileWriter>> writers;
        std::vector<size_t> staged;  // index into files of each new file waiting for the flush
        std::vector<int> fds;
        for (size_t i = first; i < end; ++i) {
            auto& writer = writers.emplace_back(std::make_unique<TSafeFileWriter>(files[i].FileName));
            if (!writer->Opened())
                results[i] = TFileWriteResult::CreateFailed;
            else if (writer->InPlace())
                results[i] = writer->Commit(files[i].Content);
            else if (!writer->Write(files[i].Content))
                results[i] = TFileWriteResult::WriteFailed;
            else {
                staged.push_back(i);
                fds.push_back(writer->Fd_);
            }
        }
        const std::vector<bool> flushed = FlushNewFiles(fds);
        std::vector<std::string> folders;
        for (size_t k = 0; k < staged.size(); ++k) {
            const size_t i = staged[k];
            TSafeFileWriter& writer = *writers[i - first];
            if (!flushed[k]) {
                writer.Discard();
                results[i] = TFileWriteResult::WriteFailed;
                continue;
            }
            results[i] = writer.Replace();
            const std::string folder = std::filesystem::path(writer.Target_).parent_path().string();
            if (results[i] == TFileWriteResult::Written &&
                std::find(folders.begin(), folders.end(), folder) == folders.end())
                folders.push_back(folder);
        }
        for (const std::string& folder : folders)
            FlushFolder(folder);
    }
    return results;
}
