#pragma once
// One INI text in memory under the private-profile rules: sections and keys matched without regard
// to case, blanks around names and values ignored, the first of equal sections and of equal keys
// the one that counts. Writes are collected and applied in one pass over the text, with exactly the
// result that applying them one by one would give; everything they do not touch keeps its bytes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TIniText {
public:
    explicit TIniText(std::string text = {});

    // The value of key in section with surrounding blanks and matching quotes removed, or def when
    // the key is missing.
    std::string ReadString(std::string_view section, std::string_view key, const std::string& def) const;
    // Every "KEY=VALUE" line of the section, in text order.
    std::vector<std::string> ReadSectionValues(std::string_view section) const;

    struct TEntry {
        size_t Line;          // counted from 1
        std::string Section;  // the name in the header that holds it, blanks removed; empty before any
        std::string Key;      // empty for the header's own line
    };
    // The section headers and key lines, in text order, as the reader sees them.
    std::vector<TEntry> Entries() const;

    // Updates the key where it stands, or adds it after the last line of its section, or adds the
    // section at the end of the text. Section and key are names as a program writes them, free of
    // surrounding blanks, brackets and line breaks.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The text with every write applied.
    const std::string& Text() const;

private:
    struct TSectionRange {
        size_t Header;     // where its header line starts
        size_t BodyBegin;  // after the header line
        size_t BodyEnd;    // where the next header line starts, or the end of the text
    };
    struct TKeyWrite {
        std::string Key;
        std::string Value;
    };
    struct TSectionWrites {
        std::string Section;
        std::vector<TKeyWrite> Keys;
    };

    std::optional<TSectionRange> FindSection(std::string_view section) const;
    void ApplyWrites() const;
    // Appends the body that starts at bodyBegin with the section's keys updated and the missing ones
    // added; answers where the body ends.
    size_t AppendUpdatedBody(std::string& out, size_t bodyBegin, const TSectionWrites& writes) const;

    // Both change only when collected writes are applied, which any read may cause.
    mutable std::string Text_;
    mutable std::vector<TSectionWrites> Writes_;
    // Sections already looked up; found again without scanning the text.
    mutable std::vector<std::pair<std::string, std::optional<TSectionRange>>> Sections_;
};
