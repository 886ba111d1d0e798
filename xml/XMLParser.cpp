// The character-level state machine that turns text into nodes, and its errors.
#include "XML.h"

#include <array>
#include <new>

namespace {

// The numbers are what EXMLParseError::State reports.
enum TParseState : uint8_t {
    Outside = 0,            // outside markup
    AfterLess = 1,          // after '<'
    MarkupDeclaration = 2,  // inside <!...>
    DeclarationName = 3,    // after '<?'
    ClosingName = 4,        // after '</'
    ElementName = 5,
    InsideTag = 6,  // between attributes
    Content = 7,    // element content before any text
    AttributeName = 8,
    AfterEquals = 9,
    AttributeValue = 10,
    TagEnd = 11,  // after '/' or '?' inside a tag
    Text = 12,    // text content
};

// 0xFF is the Cyrillic letter я in Windows-1251, yet the dialect counts it as a blank.
bool IsBlank(unsigned char c)
{
    return c == 0x20 || c == 0x08 || c == 0xFF;
}

bool IsForbidden(unsigned char c)
{
    return c == '"' || c == '&' || c == '\'' || c == '<' || c == '>';
}

// Unicode code points of Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are А..я in order and 0x98 is
// unassigned.
constexpr std::array<char16_t, 64> Cp1251Upper = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

std::string Cp1251ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x80) {
            out.push_back(byte);
            continue;
        }
        const char16_t code = c >= 0xC0 ? char16_t(0x0410 + (c - 0xC0)) : Cp1251Upper[c - 0x80];
        if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        }
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    return out;
}

// Attribute names lose the 0x20 and 0xFF blanks around them (0x08 stays).
std::string_view TrimAttributeName(std::string_view name)
{
    const auto isTrimmed = [](char c) { return c == ' ' || static_cast<unsigned char>(c) == 0xFF; };
    while (!name.empty() && isTrimmed(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && isTrimmed(name.back()))
        name.remove_suffix(1);
    return name;
}

const char* const ClosingTagNameMessage = "Недопустимое имя закрывающего тега : ";
const char* const InvalidCharacterMessage = "Недопустимый символ : ";
const char* const UnexpectedEndMessage = "Неожиданное завершение текста.";
const char* const AttributeAllocationMessage = "Недостаточно памяти для нового атрибута !";

constexpr std::size_t StateCount = Text + 1;

}  // namespace

EXMLParseError::EXMLParseError(uint8_t kind, const std::string& message, int32_t line, int32_t column, uint8_t state)
    : std::runtime_error(message)
    , Kind(kind)
    , Line(line)
    , Column(column)
    , State(state)
{}

std::string DecodeEntities(std::string_view text)
{
    static constexpr std::array<std::pair<std::string_view, char>, 5> Entities = {{
        {"lt", '<'},
        {"gt", '>'},
        {"amp", '&'},
        {"apos", '\''},
        {"quot", '"'},
    }};
    std::string out;
    out.reserve(text.size());
    std::size_t reference = std::string_view::npos;  // where the pending '&' stands
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&') {
            if (reference != std::string_view::npos)
                out.append(text.substr(reference, i - reference));
            reference = i;
        } else if (reference == std::string_view::npos) {
            out.push_back(c);
        } else if (c == ';') {
            const std::string_view name = text.substr(reference + 1, i - reference - 1);
            char replacement = 0;
            for (const auto& [entity, character] : Entities)
                if (name == entity)
                    replacement = character;
            if (replacement)
                out.push_back(replacement);
            else
                out.append(text.substr(reference, i - reference + 1));
            reference = std::string_view::npos;
        }
    }
    if (reference != std::string_view::npos)
        out.append(text.substr(reference));
    return out;
}

// One node being read: what a nested call of the machine keeps for itself.
struct TXMLParseFrame {
    TXMLTag* Node;
    uint8_t State;
    bool FirstName;                      // the next name met names Node itself
    std::string Collected;               // name, attribute or text being collected
    std::string PendingComment;          // <!...> contents waiting for the next named node
    TXMLAttribute* Attribute = nullptr;  // the attribute whose value is being read
};

// The character-level state machine. Nested elements are read with an explicit stack of frames
// rather than recursive calls, so that no depth of nesting can exhaust the stack; each frame
// behaves as one nested call. Every state has a handler of its own, which takes one character and
// answers true when the outermost frame is done.
class TXMLParser {
public:
    TXMLParser(TXMLTag& node, std::string_view text, int32_t& line, int32_t& column, uint8_t startState);
    // Answers the position after the last character consumed.
    std::size_t Run(std::size_t position);

private:
    using THandler = bool (TXMLParser::*)(char c);
    struct TStateEntry {
        TParseState State;
        THandler Handler;
    };

    // One handler per state: it takes one character.
    bool OnOutside(char c);
    bool OnAfterLess(char c);
    bool OnMarkupDeclaration(char c);
    bool OnDeclarationName(char c);
    bool OnClosingName(char c);
    bool OnElementName(char c);
    bool OnInsideTag(char c);
    bool OnContent(char c);
    bool OnAttributeName(char c);
    bool OnAfterEquals(char c);
    bool OnAttributeValue(char c);
    bool OnTagEnd(char c);
    bool OnText(char c);

    // The handler of every state, in the order of the states' numbers.
    static constexpr std::array<TStateEntry, StateCount> StateTable = {{
        {Outside, &TXMLParser::OnOutside},
        {AfterLess, &TXMLParser::OnAfterLess},
        {MarkupDeclaration, &TXMLParser::OnMarkupDeclaration},
        {DeclarationName, &TXMLParser::OnDeclarationName},
        {ClosingName, &TXMLParser::OnClosingName},
        {ElementName, &TXMLParser::OnElementName},
        {InsideTag, &TXMLParser::OnInsideTag},
        {Content, &TXMLParser::OnContent},
        {AttributeName, &TXMLParser::OnAttributeName},
        {AfterEquals, &TXMLParser::OnAfterEquals},
        {AttributeValue, &TXMLParser::OnAttributeValue},
        {TagEnd, &TXMLParser::OnTagEnd},
        {Text, &TXMLParser::OnText},
    }};
    static constexpr bool TableInStateOrder()
    {
        for (std::size_t i = 0; i < StateTable.size(); ++i)
            if (StateTable[i].State != i)
                return false;
        return true;
    }

    TXMLParseFrame& Frame() { return Frames_.back(); }
    void NameNode(std::string name, bool isDeclaration, uint8_t next);
    bool LeaveFrame();
    [[noreturn]] void Fail(uint8_t kind, const std::string& message, uint8_t state) const;
    [[noreturn]] void InvalidCharacter(char c, uint8_t state) const;
    void CollectName(char c, bool refused, uint8_t state);

    std::string_view Text_;
    int32_t& Line_;
    int32_t& Column_;
    std::vector<TXMLParseFrame> Frames_;
};

TXMLParser::TXMLParser(TXMLTag& node, std::string_view text, int32_t& line, int32_t& column, uint8_t startState)
    : Text_(text)
    , Line_(line)
    , Column_(column)
{
    Frames_.push_back(TXMLParseFrame{&node, startState, startState == Outside || startState == AfterLess, {}, {}});
}

std::size_t TXMLParser::Run(std::size_t position)
{
    static_assert(TableInStateOrder());
    while (position < Text_.size()) {
        const char c = Text_[position++];
        if (c == '\n')
            continue;
        if (c == '\r') {
            ++Line_;
            Column_ = 1;
            continue;
        }
        ++Column_;
        // A state the machine does not know (a caller's start state) reads nothing.
        const uint8_t state = Frame().State;
        if (state < StateTable.size() && (this->*StateTable[state].Handler)(c))
            return position;
    }

    // The text is used up: a frame may end only outside markup, inside a closing tag or after the
    // '/' of an empty tag; its parent is then in element content, which cannot end here.
    while (true) {
        const uint8_t state = Frame().State;
        if (state != Outside && state != ClosingName && state != TagEnd)
            Fail(XMLErrorKind::UnexpectedEnd, UnexpectedEndMessage, state);
        if (LeaveFrame())
            return position;
    }
}

void TXMLParser::Fail(uint8_t kind, const std::string& message, uint8_t state) const
{
    throw EXMLParseError(kind, message, Line_, Column_, state);
}

void TXMLParser::InvalidCharacter(char c, uint8_t state) const
{
    Fail(XMLErrorKind::InvalidCharacter, InvalidCharacterMessage + Cp1251ToUtf8(std::string_view(&c, 1)), state);
}

// The names of declarations, elements and attributes are read alike; only which characters each
// refuses differs.
void TXMLParser::CollectName(char c, bool refused, uint8_t state)
{
    if (refused)
        InvalidCharacter(c, state);
    Frame().Collected.push_back(c);
}

// The first name met in a frame names its node; any later one names a new child, which is read by a
// frame of its own while the parent waits in element content. The pending <!...> text becomes the
// comment of the node named.
void TXMLParser::NameNode(std::string name, bool isDeclaration, uint8_t next)
{
    TXMLParseFrame& f = Frame();
    TXMLTag& node = f.FirstName ? *f.Node : f.Node->NewChild();
    node.SetName(name);
    node.SetComment(std::move(f.PendingComment));
    if (isDeclaration)
        node.SetIsDeclaration(true);
    f.PendingComment.clear();
    f.Collected.clear();
    if (f.FirstName) {
        f.FirstName = false;
        f.State = next;
    } else {
        f.State = Content;
        Frames_.push_back(TXMLParseFrame{&node, next, false, {}, {}});
    }
}

// Answers true when the outermost frame is done, i.e. the run ends.
bool TXMLParser::LeaveFrame()
{
    Frames_.pop_back();
    return Frames_.empty();
}

bool TXMLParser::OnOutside(char c)
{
    if (c == '<')
        Frame().State = AfterLess;
    return false;
}

bool TXMLParser::OnAfterLess(char c)
{
    TXMLParseFrame& f = Frame();
    if (c == '!') {
        f.State = MarkupDeclaration;
    } else if (c == '/') {
        f.State = ClosingName;
    } else if (c == '?') {
        f.State = DeclarationName;
    } else if (IsForbidden(static_cast<unsigned char>(c))) {
        InvalidCharacter(c, AfterLess);
    } else {
        f.Collected.assign(1, c);
        f.State = ElementName;
    }
    return false;
}

bool TXMLParser::OnMarkupDeclaration(char c)
{
    TXMLParseFrame& f = Frame();
    if (c == '>')
        f.State = Outside;
    else
        f.PendingComment.push_back(c);
    return false;
}

bool TXMLParser::OnDeclarationName(char c)
{
    TXMLParseFrame& f = Frame();
    if (IsBlank(static_cast<unsigned char>(c)))
        NameNode(DecodeEntities(f.Collected), true, InsideTag);
    else
        CollectName(c, c == '<', DeclarationName);
    return false;
}

bool TXMLParser::OnClosingName(char c)
{
    TXMLParseFrame& f = Frame();
    if (c != '>') {
        f.Collected.push_back(c);
        return false;
    }
    if (f.Collected != f.Node->Name())
        Fail(XMLErrorKind::ClosingTagName, ClosingTagNameMessage + Cp1251ToUtf8(f.Collected), ClosingName);
    return LeaveFrame();
}

bool TXMLParser::OnElementName(char c)
{
    TXMLParseFrame& f = Frame();
    if (IsBlank(static_cast<unsigned char>(c)) || c == '>') {
        // Only the name of the frame's own node is decoded, not those of its children.
        NameNode(f.FirstName ? DecodeEntities(f.Collected) : f.Collected, false, c == '>' ? Content : InsideTag);
    } else {
        CollectName(c, c == '<', ElementName);
    }
    return false;
}

bool TXMLParser::OnInsideTag(char c)
{
    TXMLParseFrame& f = Frame();
    const auto u = static_cast<unsigned char>(c);
    if (IsBlank(u))
        return false;
    if (c == '/' || c == '?') {
        f.State = TagEnd;
    } else if (c == '>') {
        f.Collected.clear();
        f.State = Content;
    } else {
        f.Collected.assign(1, c);
        f.State = AttributeName;
        if (IsForbidden(u))
            InvalidCharacter(c, AttributeName);
    }
    return false;
}

bool TXMLParser::OnContent(char c)
{
    TXMLParseFrame& f = Frame();
    if (c == '<') {
        f.State = AfterLess;
    } else if (!IsBlank(static_cast<unsigned char>(c))) {
        f.Collected.assign(1, c);
        f.State = Text;
    }
    return false;
}

bool TXMLParser::OnAttributeName(char c)
{
    TXMLParseFrame& f = Frame();
    if (c == '=') {
        try {
            f.Attribute = &f.Node->AddAttribute(DecodeEntities(TrimAttributeName(f.Collected)), {});
        } catch (const std::bad_alloc&) {
            Fail(XMLErrorKind::AttributeAllocation, AttributeAllocationMessage, AttributeName);
        }
        f.State = AfterEquals;
    } else {
        CollectName(c, IsForbidden(static_cast<unsigned char>(c)), AttributeName);
    }
    return false;
}

bool TXMLParser::OnAfterEquals(char c)
{
    TXMLParseFrame& f = Frame();
    // The backspace blank is not accepted here.
    if (c == ' ' || static_cast<unsigned char>(c) == 0xFF)
        return false;
    if (c != '"')
        InvalidCharacter(c, AfterEquals);
    f.Collected.clear();
    f.State = AttributeValue;
    return false;
}

bool TXMLParser::OnAttributeValue(char c)
{
    TXMLParseFrame& f = Frame();
    if (c == '"') {
        f.Attribute->SetValue(DecodeEntities(f.Collected));
        f.State = InsideTag;
    } else {
        f.Collected.push_back(c);
    }
    return false;
}

bool TXMLParser::OnTagEnd(char c)
{
    if (c != '>')
        InvalidCharacter(c, TagEnd);
    return LeaveFrame();
}

bool TXMLParser::OnText(char c)
{
    TXMLParseFrame& f = Frame();
    if (c == '<') {
        f.Node->SetValue(DecodeEntities(f.Collected));
        f.Collected.clear();
        f.State = AfterLess;
    } else {
        f.Collected.push_back(c);
    }
    return false;
}

std::size_t TXMLTag::Parse(std::string_view text, std::size_t position, int32_t& line, int32_t& column,
                           uint8_t startState)
{
    return TXMLParser(*this, text, line, column, startState).Run(position);
}

void TXMLDocument::LoadFromText(std::string_view text)
{
    std::size_t position = 0;
    int32_t line = 1;
    int32_t column = 1;
    while (position < text.size()) {
        auto tag = std::make_unique<TXMLTag>();
        position = tag->Parse(text, position, line, column, Outside);
        if (!tag->IsEmpty())
            Tags_.push_back(std::move(tag));
    }
}
