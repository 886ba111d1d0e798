#include "IniFile.h"

#include "WholeFile.h"

#include <optional>
#include <string_view>

namespace {

constexpr std::string_view Blanks = " \t";
constexpr std::string_view NewLineEnding = "\r\n";

struct TIniLine {
    std::string Text;
    std::string Ending;  // "\r\n", "\n", or empty on an unterminated last line
};
using TIniLines = std::vector<TIniLine>;

struct TKeyLine {
    std::string_view Key;
    std::string_view Value;
};

// Lines [Header + 1, End) are the section's body.
struct TSectionRange {
    size_t Header;
    size_t End;
};

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

TIniLines SplitLines(std::string_view content)
{
    TIniLines lines;
    while (!content.empty()) {
        const size_t lf = content.find('\n');
        if (lf == std::string_view::npos) {
            lines.push_back({std::string(content), {}});
            break;
        }
        const bool crlf = lf > 0 && content[lf - 1] == '\r';
        const size_t textLength = crlf ? lf - 1 : lf;
        lines.push_back({std::string(content.substr(0, textLength)), std::string(content.substr(textLength, lf + 1 - textLength))});
        content.remove_prefix(lf + 1);
    }
    return lines;
}

std::string JoinLines(const TIniLines& lines)
{
    std::string content;
    for (const TIniLine& line : lines) content += line.Text + line.Ending;
    return content;
}

std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (!line.starts_with('[')) return std::nullopt;
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

std::optional<TKeyLine> ParseKeyLine(std::string_view line)
{
    const std::string_view trimmed = Trim(line);
    if (trimmed.starts_with(';')) return std::nullopt;
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = Trim(trimmed.substr(0, equals));
    if (key.empty()) return std::nullopt;
    return TKeyLine{key, Trim(trimmed.substr(equals + 1))};
}

// Matching quotes around a value are not part of it, as with the private-profile functions.
std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::optional<TSectionRange> FindSection(const TIniLines& lines, std::string_view section)
{
    for (size_t header = 0; header < lines.size(); ++header) {
        const auto name = SectionName(lines[header].Text);
        if (!name || !SameText(*name, section)) continue;
        size_t end = header + 1;
        while (end < lines.size() && !SectionName(lines[end].Text)) ++end;
        return TSectionRange{header, end};
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const TIniLines& lines, const TSectionRange& range, std::string_view key)
{
    for (size_t i = range.Header + 1; i < range.End; ++i) {
        const auto keyLine = ParseKeyLine(lines[i].Text);
        if (keyLine && SameText(keyLine->Key, key)) return i;
    }
    return std::nullopt;
}

// An absent file reads as empty; nullopt means it exists but cannot be read.
std::optional<std::string> ReadIniText(const std::string& fileName)
{
    std::string content;
    const TFileReadResult result = ReadWholeFile(fileName, content);
    if (result == TFileReadResult::Read || result == TFileReadResult::Missing) return content;
    return std::nullopt;
}

std::string ReadableContent(const std::string& fileName) { return ReadIniText(fileName).value_or(std::string()); }

} // namespace

TIniFile::TIniFile(std::string fileName) : FileName_(std::move(fileName)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    const TIniLines lines = SplitLines(ReadableContent(FileName_));
    const auto range = FindSection(lines, section);
    if (!range) return def;
    const auto index = FindKey(lines, *range, key);
    if (!index) return def;
    return std::string(Unquote(ParseKeyLine(lines[*index].Text)->Value));
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    // An existing file that cannot be read must not be replaced by one holding only this key.
    const auto content = ReadIniText(FileName_);
    if (!content) throw EIniFileError("Unable to write to " + FileName_);

    TIniLines lines = SplitLines(*content);
    const auto terminate = [&lines](size_t index) {
        if (lines[index].Ending.empty()) lines[index].Ending = NewLineEnding;
    };
    const auto newLine = [](std::string text) { return TIniLine{std::move(text), std::string(NewLineEnding)}; };

    if (const auto range = FindSection(lines, section)) {
        if (const auto index = FindKey(lines, *range, key)) {
            // The key keeps its spelling in the file; only its value changes.
            const std::string fileKey(ParseKeyLine(lines[*index].Text)->Key);
            lines[*index].Text = fileKey + "=" + value;
        } else {
            size_t insertAt = range->Header + 1;
            for (size_t i = range->Header + 1; i < range->End; ++i)
                if (!Trim(lines[i].Text).empty()) insertAt = i + 1;
            terminate(insertAt - 1);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine(key + "=" + value));
        }
    } else {
        if (!lines.empty()) terminate(lines.size() - 1);
        lines.push_back(newLine("[" + section + "]"));
        lines.push_back(newLine(key + "=" + value));
    }

    if (WriteWholeFile(FileName_, JoinLines(lines)) != TFileWriteResult::Written) throw EIniFileError("Unable to write to " + FileName_);
}

std::vector<std::string> TIniFile::ReadSectionValues(const std::string& section) const
{
    const TIniLines lines = SplitLines(ReadableContent(FileName_));
    std::vector<std::string> values;
    const auto range = FindSection(lines, section);
    if (!range) return values;
    for (size_t i = range->Header + 1; i < range->End; ++i)
        if (const auto keyLine = ParseKeyLine(lines[i].Text))
            values.push_back(std::string(keyLine->Key) + "=" + std::string(Unquote(keyLine->Value)));
    return values;
}
