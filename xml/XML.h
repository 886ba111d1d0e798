#pragma once
// The program's own small XML dialect: single-byte (Windows-1251) text, names and values of at most
// 255 bytes, double-quoted attribute values, five named entities, line breaks dropped everywhere.
// A document is a tree of nodes; text becomes a tree through a character-level state machine and a
// tree becomes text through a fixed-format writer. Values are reached by backslash paths.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Names and values are short strings: storing a longer text keeps its first bytes.
constexpr std::size_t XMLMaxShortString = 255;

namespace XMLErrorKind {
constexpr uint8_t ClosingTagName = 0;
constexpr uint8_t InvalidCharacter = 2;
constexpr uint8_t UnexpectedEnd = 3;
constexpr uint8_t AttributeAllocation = 5;
constexpr uint8_t FileRead = 6;
constexpr uint8_t FileOpen = 7;
constexpr uint8_t FileCreateOrWrite = 8;
}  // namespace XMLErrorKind

// File errors carry no position and no parser state.
constexpr int32_t XMLFileErrorPosition = -1;
constexpr uint8_t XMLFileErrorState = 255;

// A parse or file failure. The message is UTF-8; data bytes quoted in it are converted from
// Windows-1251.
class EXMLParseError : public std::runtime_error {
public:
    EXMLParseError(uint8_t kind, const std::string& message, int32_t line, int32_t column, uint8_t state);

    uint8_t Kind;
    int32_t Line;
    int32_t Column;
    uint8_t State;
};

// Replaces &lt; &gt; &amp; &apos; &quot;. Any other reference, and an '&' without a closing ';',
// is kept as written.
std::string DecodeEntities(std::string_view text);

class TXMLAttribute {
public:
    const std::string& Name() const { return Name_; }
    void SetName(std::string_view name);
    const std::string& Value() const { return Value_; }
    void SetValue(std::string_view value);

    // name="value", nothing escaped.
    std::string AsText() const;

private:
    std::string Name_;
    std::string Value_;
};

// An element or a declaration; owns its attributes and children.
class TXMLTag {
public:
    TXMLTag() = default;
    ~TXMLTag();
    TXMLTag(const TXMLTag&) = delete;
    TXMLTag& operator=(const TXMLTag&) = delete;

    const std::string& Name() const { return Name_; }
    void SetName(std::string_view name);
    const std::string& Value() const { return Value_; }
    void SetValue(std::string_view value);
    // The <!...> constructs that preceded the node in its text, concatenated; unbounded.
    const std::string& Comment() const { return Comment_; }
    void SetComment(std::string_view comment) { Comment_ = comment; }
    bool IsDeclaration() const { return IsDeclaration_; }
    void SetIsDeclaration(bool isDeclaration) { IsDeclaration_ = isDeclaration; }
    // Nesting depth, which the writer indents by: 0 at the top, a child's is its parent's plus one.
    int32_t Level() const { return Level_; }
    bool IsEmpty() const { return Name_.empty(); }

    // Indexes outside 0..count-1 throw std::out_of_range("Invalid list index").
    int ChildCount() const { return static_cast<int>(Children_.size()); }
    TXMLTag& Child(int index);
    const TXMLTag& Child(int index) const;
    int AttributeCount() const { return static_cast<int>(Attributes_.size()); }
    TXMLAttribute& Attribute(int index);
    const TXMLAttribute& Attribute(int index) const;
    TXMLAttribute& AddAttribute(std::string_view name, std::string_view value);

    // Drops attributes and children, empties Name and Value, clears IsDeclaration; Comment and
    // Level stay.
    void Clear();
    // Makes this node a deep copy of source, Level included (descendants one deeper each).
    void Assign(const TXMLTag& source);
    // Appends a deep copy of source one level below this node and returns it.
    TXMLTag& AddChild(const TXMLTag& source);

    // Runs the state machine over text from position with this node as its frame and answers the
    // position after the last character consumed. line and column are shared with the caller.
    // startState is 0 for a top-level construct, 6 inside a start tag, 7 in element content.
    std::size_t Parse(std::string_view text, std::size_t position, int32_t& line, int32_t& column, uint8_t startState);

    // The node as written to a file. Not const: a declaration's version="1,0" is stored back as 1.0.
    std::string AsText();

    // Value of the node that path (names separated by '\', letters A..Z folded) addresses below this
    // node; empty text when there is none or the path is empty.
    std::string GetValue(std::string_view path) const;
    // Sets the Value of the node path addresses below this node, creating missing nodes; an empty
    // path sets this node's own Value.
    void SetValue(std::string_view path, std::string_view value);

private:
    friend class TXMLDocument;
    friend class TXMLParser;

    TXMLTag& NewChild();
    void CopyFrom(const TXMLTag& source, int32_t level);
    void SwapContents(TXMLTag& other);
    // Writes the comment line and the opening part; true when children and a closing tag follow.
    bool AppendOpening(std::string& out);
    void AppendClosing(std::string& out) const;
    void AppendText(std::string& out);

    std::string Name_;
    std::string Value_;
    std::string Comment_;
    bool IsDeclaration_ = false;
    int32_t Level_ = 0;
    std::vector<std::unique_ptr<TXMLTag>> Children_;
    std::vector<std::unique_ptr<TXMLAttribute>> Attributes_;
};

// The top-level nodes of one document, with whole-text and whole-file reading and writing.
class TXMLDocument {
public:
    int Count() const { return static_cast<int>(Tags_.size()); }
    TXMLTag& Tag(int index);
    const TXMLTag& Tag(int index) const;
    // Appends a deep copy of source (its Level kept) and returns it.
    TXMLTag& AddTag(const TXMLTag& source);
    void Clear() { Tags_.clear(); }

    // Appends the top-level constructs of text after the nodes already held. On EXMLParseError the
    // nodes completed before the failure stay.
    void LoadFromText(std::string_view text);
    std::string AsText();

    // Throws EXMLParseError: kind 7 when the file cannot be opened, 6 when it cannot be read, or
    // whatever the text's parse raises.
    void LoadFromFile(const std::string& fileName);
    // Replaces the file atomically, writing through a symbolic link to its target: a failure throws
    // EXMLParseError kind 8 and leaves any previous file as it was. A read-only file is not replaced.
    // In a folder that takes no new file, a writable file is overwritten in place.
    void SaveToFile(const std::string& fileName);

    std::string GetValue(std::string_view path) const;
    void SetValue(std::string_view path, std::string_view value);

private:
    std::vector<std::unique_ptr<TXMLTag>> Tags_;
};
