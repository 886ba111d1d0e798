// The fixed-format writer: one node per line, indented one space per level, nothing escaped.
#include "XML.h"
#include "XMLNames.h"

namespace {

const char* const LineBreak = "\r\n";
// A value written beside children sits five spaces deeper than its element.
constexpr std::size_t ValueIndent = 5;

void AppendIndent(std::string& out, int32_t level)
{
    out.append(static_cast<std::size_t>(level), ' ');
}

}  // namespace

std::string TXMLAttribute::AsText() const
{
    return Name_ + "=\"" + Value_ + '"';
}

bool TXMLTag::AppendOpening(std::string& out)
{
    if (!Comment_.empty()) {
        AppendIndent(out, Level_);
        out += "<!";
        out += Comment_;
        out += '>';
        out += LineBreak;
    }
    if (Name_.empty())
        return false;
    AppendIndent(out, Level_);
    if (IsDeclaration_) {
        out += "<?";
        out += Name_;
        out += ' ';
        for (const auto& attribute : Attributes_) {
            // A version written with a decimal comma (as some locales format it) is stored back
            // with a full stop.
            if (NamesMatch(attribute->Name(), "version")) {
                std::string value = attribute->Value();
                if (const std::size_t comma = value.find(','); comma != std::string::npos)
                    value[comma] = '.';
                attribute->SetValue(value);
            }
            out += attribute->AsText();
        }
        out += "?>";
        return false;
    }
    out += '<';
    out += Name_;
    if (!Attributes_.empty()) {
        out += ' ';
        for (const auto& attribute : Attributes_) {
            out += attribute->AsText();
            out += ' ';
        }
    }
    out += '>';
    if (!Value_.empty() && Children_.empty()) {
        out += Value_;
        AppendClosing(out);
        return false;
    }
    out += LineBreak;
    if (!Value_.empty()) {
        AppendIndent(out, Level_);
        out.append(ValueIndent, ' ');
        out += Value_;
        out += LineBreak;
    }
    return true;
}

void TXMLTag::AppendClosing(std::string& out) const
{
    out += "</";
    out += Name_;
    out += '>';
}

// Walks the subtree with an explicit stack: each child's text is followed by a line break, and the
// closing tag of a node with children goes on a line of its own.
void TXMLTag::AppendText(std::string& out)
{
    if (!AppendOpening(out))
        return;
    std::vector<std::pair<TXMLTag*, std::size_t>> open{{this, 0}};
    while (!open.empty()) {
        auto& [tag, next] = open.back();
        if (next < tag->Children_.size()) {
            TXMLTag& child = *tag->Children_[next++];
            if (child.AppendOpening(out))
                open.emplace_back(&child, 0);
            else
                out += LineBreak;
        } else {
            AppendIndent(out, tag->Level_);
            tag->AppendClosing(out);
            open.pop_back();
            if (!open.empty())
                out += LineBreak;
        }
    }
}

std::string TXMLTag::AsText()
{
    std::string out;
    AppendText(out);
    return out;
}

std::string TXMLDocument::AsText()
{
    std::string out;
    for (const auto& tag : Tags_) {
        tag->AppendText(out);
        out += LineBreak;
    }
    return out;
}
