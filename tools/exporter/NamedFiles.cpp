#include "NamedFiles.h"

#include <algorithm>

namespace {

constexpr size_t MaxNameLength = 100;

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

}  // namespace

TNamedFiles::TNamedFiles(std::string folder, std::string extension)
    : Folder_(std::move(folder))
    , Extension_(std::move(extension))
{}

bool TNamedFiles::PathOf(const std::string& name, std::string& path, std::string& error) const
{
    if (!Offered()) {
        error = "каталог файлов ." + Extension_ + " не задан при запуске";
        return false;
    }
    if (name.empty() || name.size() > MaxNameLength || name.front() == '.' ||
        !std::all_of(name.begin(), name.end(), IsNameCharacter)) {
        error = "недопустимое имя \"" + name +
                "\": допускаются латинские буквы, цифры, _ - и . (не первой), не более " +
                std::to_string(MaxNameLength);
        return false;
    }
    path = Folder_ + "/" + name + "." + Extension_;
    return true;
}
