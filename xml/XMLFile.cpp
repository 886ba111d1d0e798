// Whole-file loading and atomic saving of a document.
#include "XML.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const FileOpenMessage = "Ошибка открытия файла: ";
const char* const FileReadMessage = "Ошибка чтения файла: ";
const char* const FileCreateMessage = "Ошибка создания файла ";
const char* const FileWriteMessage = "Ошибка записи в файл ";

[[noreturn]] void FailFile(uint8_t kind, const char* message, const std::string& fileName)
{
    throw EXMLParseError(kind, message + fileName, XMLFileErrorPosition, XMLFileErrorPosition,
                         XMLFileErrorState);
}

class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : Fd(fd) {}
    ~TFileDescriptor()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;

    // Closes now so that a failing close can be reported.
    bool Close()
    {
        const int fd = Fd;
        Fd = -1;
        return ::close(fd) == 0;
    }

    int Fd;
};

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A name beside the target that no other writer uses, created exclusively; -1 when the folder
// does not take new files.
int CreateTemporaryBeside(const std::string& fileName, std::string& temporaryName)
{
    constexpr int Attempts = 100;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        temporaryName = fileName + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
        const int fd = ::open(temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
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

}  // namespace

void TXMLDocument::LoadFromFile(const std::string& fileName)
{
    TFileDescriptor file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Fd < 0)
        FailFile(XMLErrorKind::FileOpen, FileOpenMessage, fileName);

    std::string text;
    struct stat status {};
    if (::fstat(file.Fd, &status) == 0 && status.st_size > 0)
        text.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(file.Fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            FailFile(XMLErrorKind::FileRead, FileReadMessage, fileName);
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    file.Close();
    LoadFromText(text);
}

// The text goes to a new file beside the target, which then replaces the target in one rename:
// whatever fails, the previous file stays whole.
void TXMLDocument::SaveToFile(const std::string& fileName)
{
    const std::string target = LinkTarget(fileName);
    // A read-only file stays unwritten, although the rename alone would get past it; nor is anything
    // but a plain file replaced (a device a link leads to, say).
    struct stat previous {};
    const bool replacing = !target.empty() && ::stat(target.c_str(), &previous) == 0;
    if (target.empty() || (replacing && (!S_ISREG(previous.st_mode) || ::access(target.c_str(), W_OK) != 0)))
        FailFile(XMLErrorKind::FileCreateOrWrite, FileCreateMessage, fileName);

    std::string temporaryName;
    TFileDescriptor file(CreateTemporaryBeside(target, temporaryName));
    if (file.Fd < 0)
        FailFile(XMLErrorKind::FileCreateOrWrite, FileCreateMessage, fileName);
    // A replaced file keeps its permissions.
    if (replacing)
        ::fchmod(file.Fd, previous.st_mode & 07777);

    // The text is built only once the file could be created: building it mends a declaration's version.
    std::string text;
    try {
        text = AsText();
    } catch (...) {
        ::unlink(temporaryName.c_str());
        throw;
    }
    const bool written = WriteAll(file.Fd, text) && ::fsync(file.Fd) == 0;
    if (!file.Close() || !written) {
        ::unlink(temporaryName.c_str());
        FailFile(XMLErrorKind::FileCreateOrWrite, FileWriteMessage, fileName);
    }
    if (::rename(temporaryName.c_str(), target.c_str()) != 0) {
        ::unlink(temporaryName.c_str());
        FailFile(XMLErrorKind::FileCreateOrWrite, FileCreateMessage, fileName);
    }
}
