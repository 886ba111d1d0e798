// The node tree, deep copies and access by path.
#include "XML.h"
#include "XMLNames.h"

#include <utility>

namespace {

char FoldAZ(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

const char* const InvalidListIndex = "Invalid list index";

std::string_view ShortString(std::string_view text)
{
    return text.substr(0, XMLMaxShortString);
}

template <class T> T& ItemAt(const std::vector<std::unique_ptr<T>>& list, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        throw std::out_of_range(InvalidListIndex);
    return *list[static_cast<std::size_t>(index)];
}

// Takes the next name off path. Doubled backslashes give empty segments, which are skipped, so an
// empty answer means the path is used up.
std::string_view NextSegment(std::string_view& path)
{
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    const std::size_t end = path.find('\\');
    const std::string_view segment = path.substr(0, end);
    path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
    return segment;
}

// The first match in list order; later namesakes are never tried.
TXMLTag* FindTag(const std::vector<std::unique_ptr<TXMLTag>>& list, std::string_view segment)
{
    for (const auto& tag : list)
        if (NamesMatch(segment, tag->Name()))
            return tag.get();
    return nullptr;
}

}  // namespace

bool NamesMatch(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAZ(a[i]) != FoldAZ(b[i]))
            return false;
    return true;
}

void TXMLAttribute::SetName(std::string_view name)
{
    Name_ = ShortString(name);
}

void TXMLAttribute::SetValue(std::string_view value)
{
    Value_ = ShortString(value);
}

// Deep trees are torn down without recursion so that no document can exhaust the stack.
TXMLTag::~TXMLTag()
{
    std::vector<std::unique_ptr<TXMLTag>> pending = std::move(Children_);
    while (!pending.empty()) {
        std::unique_ptr<TXMLTag> tag = std::move(pending.back());
        pending.pop_back();
        for (auto& child : tag->Children_)
            pending.push_back(std::move(child));
        tag->Children_.clear();
    }
}

void TXMLTag::SetName(std::string_view name)
{
    Name_ = ShortString(name);
}

void TXMLTag::SetValue(std::string_view value)
{
    Value_ = ShortString(value);
}

TXMLTag& TXMLTag::Child(int index)
{
    return ItemAt(Children_, index);
}

const TXMLTag& TXMLTag::Child(int index) const
{
    return ItemAt(Children_, index);
}

TXMLAttribute& TXMLTag::Attribute(int index)
{
    return ItemAt(Attributes_, index);
}

const TXMLAttribute& TXMLTag::Attribute(int index) const
{
    return ItemAt(Attributes_, index);
}

TXMLAttribute& TXMLTag::AddAttribute(std::string_view name, std::string_view value)
{
    auto& attribute = *Attributes_.emplace_back(std::make_unique<TXMLAttribute>());
    attribute.SetName(name);
    attribute.SetValue(value);
    return attribute;
}

void TXMLTag::Clear()
{
    Attributes_.clear();
    Children_.clear();
    Name_.clear();
    Value_.clear();
    IsDeclaration_ = false;
}

TXMLTag& TXMLTag::NewChild()
{
    auto& child = *Children_.emplace_back(std::make_unique<TXMLTag>());
    child.Level_ = Level_ + 1;
    return child;
}

// The copy is built aside before it replaces this node's contents, so a source inside this very
// subtree (or this node itself) is read whole; it is built without recursion like the destructor.
void TXMLTag::CopyFrom(const TXMLTag& source, int32_t level)
{
    TXMLTag copy;
    copy.Level_ = level;
    std::vector<std::pair<TXMLTag*, const TXMLTag*>> pending{{&copy, &source}};
    while (!pending.empty()) {
        auto [to, from] = pending.back();
        pending.pop_back();
        to->Name_ = from->Name_;
        to->Value_ = from->Value_;
        to->Comment_ = from->Comment_;
        to->IsDeclaration_ = from->IsDeclaration_;
        for (const auto& attribute : from->Attributes_)
            to->Attributes_.push_back(std::make_unique<TXMLAttribute>(*attribute));
        for (const auto& child : from->Children_)
            pending.emplace_back(&to->NewChild(), child.get());
    }
    SwapContents(copy);
}

void TXMLTag::SwapContents(TXMLTag& other)
{
    Name_.swap(other.Name_);
    Value_.swap(other.Value_);
    Comment_.swap(other.Comment_);
    std::swap(IsDeclaration_, other.IsDeclaration_);
    std::swap(Level_, other.Level_);
    Children_.swap(other.Children_);
    Attributes_.swap(other.Attributes_);
}

void TXMLTag::Assign(const TXMLTag& source)
{
    CopyFrom(source, source.Level_);
}

TXMLTag& TXMLTag::AddChild(const TXMLTag& source)
{
    auto child = std::make_unique<TXMLTag>();
    child->CopyFrom(source, Level_ + 1);
    return *Children_.emplace_back(std::move(child));
}

std::string TXMLTag::GetValue(std::string_view path) const
{
    std::string_view segment = NextSegment(path);
    if (segment.empty())
        return {};
    const TXMLTag* tag = this;
    for (; !segment.empty(); segment = NextSegment(path)) {
        tag = FindTag(tag->Children_, segment);
        if (!tag)
            return {};
    }
    return tag->Value_;
}

void TXMLTag::SetValue(std::string_view path, std::string_view value)
{
    TXMLTag* tag = this;
    for (std::string_view segment = NextSegment(path); !segment.empty(); segment = NextSegment(path)) {
        TXMLTag* found = FindTag(tag->Children_, segment);
        if (!found) {
            found = &tag->NewChild();
            found->SetName(segment);
        }
        tag = found;
    }
    tag->SetValue(value);
}

TXMLTag& TXMLDocument::Tag(int index)
{
    return ItemAt(Tags_, index);
}

const TXMLTag& TXMLDocument::Tag(int index) const
{
    return ItemAt(Tags_, index);
}

TXMLTag& TXMLDocument::AddTag(const TXMLTag& source)
{
    auto tag = std::make_unique<TXMLTag>();
    tag->Assign(source);
    return *Tags_.emplace_back(std::move(tag));
}

std::string TXMLDocument::GetValue(std::string_view path) const
{
    const std::string_view segment = NextSegment(path);
    if (segment.empty())
        return {};
    const TXMLTag* tag = FindTag(Tags_, segment);
    if (!tag)
        return {};
    // With no rest the match itself is addressed, otherwise the rest is looked up below it.
    std::string_view rest = path;
    return NextSegment(rest).empty() ? tag->Value() : tag->GetValue(path);
}

void TXMLDocument::SetValue(std::string_view path, std::string_view value)
{
    const std::string_view segment = NextSegment(path);
    if (segment.empty())
        return;
    TXMLTag* tag = FindTag(Tags_, segment);
    if (!tag) {
        tag = Tags_.emplace_back(std::make_unique<TXMLTag>()).get();
        tag->SetName(segment);
    }
    tag->SetValue(path, value);
}
