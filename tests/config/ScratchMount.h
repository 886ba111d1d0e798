#pragma once
// Real file-system conditions for saving tests: a small tmpfs that fills up, and a folder that takes
// no new file while a file in it stays writable. Mounts need root: the test process moves into a
// mount namespace of its own, so nothing is mounted for anyone else. Each answers an empty text
// when ready, or why it could not be set up (the test then skips with that reason).

#include <filesystem>
#include <string>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

inline std::string EnterPrivateMountNamespace()
{
    if (geteuid() != 0)
        return "mounting a scratch file system needs root";
    if (unshare(CLONE_NEWNS) != 0)
        return std::string("no mount namespace: ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("mounts cannot be made private: ") + std::strerror(errno);
    return {};
}

// Mounts a tmpfs of the given size over folder; it vanishes with the test process.
inline std::string MountSmallFileSystem(const std::filesystem::path& folder, size_t bytes)
{
    if (std::string failure = EnterPrivateMountNamespace(); !failure.empty())
        return failure;
    const std::string options = "size=" + std::to_string(bytes);
    if (mount("korvel-test", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
        return std::string("tmpfs cannot be mounted: ") + std::strerror(errno);
    return {};
}

// The folder becomes read-only while file (which must exist) stays writable: for root a file
// bind-mounted into a read-only folder, as containers do; for anyone else permission bits.
inline std::string MakeFolderRefuseNewFiles(const std::filesystem::path& folder, const std::filesystem::path& file)
{
    if (geteuid() != 0) {
        std::filesystem::permissions(folder, std::filesystem::perms(0555));
        return {};
    }
    if (std::string failure = EnterPrivateMountNamespace(); !failure.empty())
        return failure;
    // The file's own mount is made before the folder turns read-only, or it would inherit that.
    if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(file.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return std::string("bind mounts failed: ") + std::strerror(errno);
    return {};
}
