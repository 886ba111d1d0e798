#pragma once
// A fresh folder per test, removed afterwards, with whole-file helpers for byte-exact checks.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <unistd.h>

class TTempFolder {
public:
    TTempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "korvel-config-XXXXXX").string();
        Path_ = mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("mkdtemp failed");
    }
    ~TTempFolder()
    {
        UndoMountsBelow();
        std::error_code ignored;
        std::filesystem::permissions(Path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(Path_, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::filesystem::path& Path() const { return Path_; }
    std::string File(const std::string& name) const { return (Path_ / name).string(); }

private:
    // A scratch mount below the folder (a test's full disk or read-only folder) keeps the folder from
    // being removed: undone first, innermost first.
    void UndoMountsBelow() const
    {
        std::ifstream mounts("/proc/self/mounts");
        std::vector<std::string> below;
        std::string device, point, rest;
        while (mounts >> device >> point && std::getline(mounts, rest))
            if (point.rfind(Path_.string(), 0) == 0)
                below.push_back(point);
        std::stable_sort(below.begin(), below.end(),
                         [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
        for (const std::string& mountPoint : below)
            umount2(mountPoint.c_str(), MNT_DETACH);
    }

    std::filesystem::path Path_;
};

inline std::string ReadBytes(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& fileName, const std::string& bytes)
{
    std::ofstream(fileName, std::ios::binary) << bytes;
}

// The names in a folder, sorted: shows that a save left nothing beside its file.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}
