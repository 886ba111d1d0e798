#include "IniText.h"

#include <algorithm>

namespace {

constexpr std::string_view Blanks = " \t";
constexpr std::string_view NewLineEnding = "\r\n";

// A line is what lies before a '\n'; a '\r' right before that belongs to the line break, any other
// '\r' to the text. The last line may have no break at all.
struct TLine {
    std::string_view Text;
    size_t End;  // after its line break
};

TLine LineAt(std::string_view text, size_t begin)
{
    const size_t lf = text.find('\n', begin);
    if (lf == std::string_view::npos)
        return {text.substr(begin), text.size()};
    const size_t textEnd = lf > begin && text[lf - 1] == '\r' ? lf - 1 : lf;
    return {text.substr(begin, textEnd - begin), lf + 1};
}

struct TKeyLine {
    std::string_view Key;
    std::string_view Value;
};

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

char FoldCase(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (!line.starts_with('['))
        return std::nullopt;
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

std::optional<TKeyLine> ParseKeyLine(std::string_view line)
{
    const std::string_view trimmed = Trim(line);
    if (trimmed.starts_with(';'))
        return std::nullopt;
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    const std::string_view key = Trim(trimmed.substr(0, equals));
    if (key.empty())
        return std::nullopt;
    return TKeyLine{key, Trim(trimmed.substr(equals + 1))};
}

// Matching quotes around a value are not part of it, as with the private-profile functions.
std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// The start of the first header line at or after the line that starts at from, or the end of the
// text. Only lines holding a '[' are looked at, so a large text without headers is passed over at
// the speed of a byte search.
size_t NextHeader(std::string_view text, size_t from)
{
    size_t lineBegin = from;
    while (lineBegin < text.size()) {
        const size_t bracket = text.find('[', lineBegin);
        if (bracket == std::string_view::npos)
            break;
        const size_t lastBreak = text.rfind('\n', bracket);
        const size_t bracketLine =
            lastBreak == std::string_view::npos || lastBreak < lineBegin ? lineBegin : lastBreak + 1;
        if (text.substr(bracketLine, bracket - bracketLine).find_first_not_of(Blanks) == std::string_view::npos)
            return bracketLine;
        lineBegin = LineAt(text, bracket).End;
    }
    return text.size();
}

// A key can start the line only with its own first letter; most lines are passed over by that.
bool MayHoldKey(std::string_view line, std::string_view key)
{
    const size_t first = line.find_first_not_of(Blanks);
    return first != std::string_view::npos && FoldCase(line[first]) == FoldCase(key.front());
}

void AppendKeyLine(std::string& out, std::string_view key, std::string_view value)
{
    out.append(key).append("=").append(value).append(NewLineEnding);
}

}  // namespace

TIniText::TIniText(std::string text) : Text_(std::move(text))
{}

std::optional<TIniText::TSectionRange> TIniText::FindSection(std::string_view section) const
{
    ApplyWrites();
    for (const auto& [name, range] : Sections_)
        if (name == section)
            return range;

    std::optional<TSectionRange> found;
    for (size_t header = NextHeader(Text_, 0); header < Text_.size();) {
        const TLine line = LineAt(Text_, header);
        if (SameText(*SectionName(line.Text), section)) {
            found = TSectionRange{header, line.End, NextHeader(Text_, line.End)};
            break;
        }
        header = NextHeader(Text_, line.End);
    }
    Sections_.emplace_back(section, found);
    return found;
}

std::string TIniText::ReadString(std::string_view section, std::string_view key, const std::string& def) const
{
    const auto range = FindSection(section);
    if (!range || key.empty())
        return def;
    for (size_t at = range->BodyBegin; at < range->BodyEnd;) {
        const TLine line = LineAt(Text_, at);
        if (MayHoldKey(line.Text, key))
            if (const auto keyLine = ParseKeyLine(line.Text); keyLine && SameText(keyLine->Key, key))
                return std::string(Unquote(keyLine->Value));
        at = line.End;
    }
    return def;
}

std::vector<std::string> TIniText::ReadSectionValues(std::string_view section) const
{
    std::vector<std::string> values;
    const auto range = FindSection(section);
    if (!range)
        return values;
    for (size_t at = range->BodyBegin; at < range->BodyEnd;) {
        const TLine line = LineAt(Text_, at);
        if (const auto keyLine = ParseKeyLine(line.Text))
            values.push_back(std::string(keyLine->Key) + "=" + std::string(Unquote(keyLine->Value)));
        at = line.End;
    }
    return values;
}

std::vector<TIniText::TEntry> TIniText::Entries() const
{
    ApplyWrites();
    std::vector<TEntry> entries;
    std::string section;
    size_t number = 1;
    for (size_t at = 0; at < Text_.size(); ++number) {
        const TLine line = LineAt(Text_, at);
        if (const auto name = SectionName(line.Text)) {
            section = std::string(*name);
            entries.push_back({number, section, {}});
        } else if (const auto keyLine = ParseKeyLine(line.Text)) {
            entries.push_back({number, section, std::string(keyLine->Key)});
        }
        at = line.End;
    }
    return entries;
}

void TIniText::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    // A section or key written again is the one written first, as the text would have it by then.
    auto writes = std::find_if(Writes_.begin(), Writes_.end(),
                               [&](const TSectionWrites& w) { return SameText(w.Section, section); });
    if (writes == Writes_.end())
        writes = Writes_.insert(Writes_.end(), TSectionWrites{section, {}});
    auto write = std::find_if(writes->Keys.begin(), writes->Keys.end(),
                              [&](const TKeyWrite& w) { return SameText(w.Key, key); });
    if (write == writes->Keys.end())
        writes->Keys.push_back({key, value});
    else
        write->Value = value;
}

const std::string& TIniText::Text() const
{
    ApplyWrites();
    return Text_;
}

size_t TIniText::AppendUpdatedBody(std::string& out, size_t bodyBegin, const TSectionWrites& writes) const
{
    std::vector<bool> found(writes.Keys.size());
    size_t insertAt = out.size();
    size_t at = bodyBegin;
    while (at < Text_.size()) {
        const TLine line = LineAt(Text_, at);
        if (SectionName(line.Text))
            break;
        bool updated = false;
        if (const auto keyLine = ParseKeyLine(line.Text)) {
            for (size_t k = 0; k < writes.Keys.size() && !updated; ++k) {
                if (found[k] || !SameText(keyLine->Key, writes.Keys[k].Key))
                    continue;
                // The key keeps its spelling in the text; only its value changes.
                found[k] = updated = true;
                out.append(keyLine->Key).append("=").append(writes.Keys[k].Value);
                out.append(Text_, at + line.Text.size(), line.End - at - line.Text.size());
            }
        }
        if (!updated)
            out.append(Text_, at, line.End - at);
        // New keys go after the section's last line, before blank lines that separate sections.
        if (!Trim(line.Text).empty())
            insertAt = out.size();
        at = line.End;
    }

    std::string added;
    for (size_t k = 0; k < writes.Keys.size(); ++k)
        if (!found[k])
            AppendKeyLine(added, writes.Keys[k].Key, writes.Keys[k].Value);
    if (!added.empty()) {
        // Only the text's last line can lack a line break, and a line is about to follow it.
        if (out[insertAt - 1] != '\n')
            added.insert(0, NewLineEnding);
        out.insert(insertAt, added);
    }
    return at;
}

void TIniText::ApplyWrites() const
{
    if (Writes_.empty())
        return;
    std::string out;
    out.reserve(Text_.size() + Text_.size() / 8 + 1024);
    std::vector<bool> met(Writes_.size());
    size_t copied = 0;
    for (size_t header = NextHeader(Text_, 0); header < Text_.size();) {
        const TLine line = LineAt(Text_, header);
        const std::string_view name = *SectionName(line.Text);
        size_t i = 0;
        while (i < Writes_.size() && !SameText(name, Writes_[i].Section))
            ++i;
        // Only the first of equal sections takes the writes.
        if (i == Writes_.size() || met[i]) {
            header = NextHeader(Text_, line.End);
            continue;
        }
        met[i] = true;
        out.append(Text_, copied, line.End - copied);
        copied = AppendUpdatedBody(out, line.End, Writes_[i]);
        header = copied;
    }
    out.append(Text_, copied);

    for (size_t i = 0; i < Writes_.size(); ++i) {
        if (met[i])
            continue;
        if (!out.empty() && out.back() != '\n')
            out.append(NewLineEnding);
        out.append("[").append(Writes_[i].Section).append("]").append(NewLineEnding);
        for (const TKeyWrite& write : Writes_[i].Keys)
            AppendKeyLine(out, write.Key, write.Value);
    }

    Text_ = std::move(out);
    Writes_.clear();
    Sections_.clear();
}
