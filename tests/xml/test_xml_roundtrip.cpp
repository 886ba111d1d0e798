// What the writer writes, the parser reads back as the same tree.
#include "XML.h"
#include "XMLTestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

class TRandomTrees {
public:
    explicit TRandomTrees(uint32_t seed) : Random(seed) {}

    TXMLDocument Document()
    {
        TXMLDocument document;
        const int count = Between(1, 3);
        for (int i = 0; i < count; ++i) {
            TXMLTag tag;
            if (Chance(5))
                Declaration(tag);
            else
                Element(tag, 0);
            document.AddTag(tag);
        }
        return document;
    }

private:
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Random); }
    bool Chance(int oneIn) { return Between(1, oneIn) == 1; }

    // Bytes that the dialect carries through a name, value or comment: never a line break or a
    // markup character, and never what ends or trims the text they sit in.
    std::string Text(int minLength, int maxLength, std::string_view excluded, std::string_view excludedFirst)
    {
        std::string text;
        const int length = Between(minLength, maxLength);
        while (static_cast<int>(text.size()) < length) {
            const char c = static_cast<char>(Between(0, 255));
            const std::string_view banned = text.empty() ? excludedFirst : excluded;
            if (c != '\r' && c != '\n' && banned.find(c) == std::string_view::npos)
                text.push_back(c);
        }
        return text;
    }

    static constexpr std::string_view Markup = "\"&'<>";
    static constexpr std::string_view Blanks = " \x08\xFF";

    std::string Name()
    {
        const std::string excluded = std::string(Markup) + std::string(Blanks);
        return Text(1, 12, excluded, excluded + "!/?");
    }
    // At most six bytes, so never "version", whose commas the writer mends.
    std::string AttributeName()
    {
        const std::string excluded = std::string(Markup) + std::string(Blanks) + "=";
        return Text(1, 6, excluded, excluded + "/?");
    }
    std::string AttributeValue() { return Text(0, 20, Markup, Markup); }
    std::string ElementValue() { return Text(0, 30, Markup, std::string(Markup) + std::string(Blanks)); }
    std::string Comment() { return Chance(4) ? Text(1, 20, ">", ">") : ""; }

    void Attributes(TXMLTag& tag)
    {
        const int count = Between(0, 3);
        for (int i = 0; i < count; ++i)
            tag.AddAttribute(AttributeName(), AttributeValue());
    }

    void Declaration(TXMLTag& tag)
    {
        tag.SetName(Name());
        tag.SetIsDeclaration(true);
        tag.SetComment(Comment());
        Attributes(tag);
    }

    // A value beside children would take in the indentation that follows it, so only leaves hold one.
    void Element(TXMLTag& tag, int depth)
    {
        tag.SetName(Name());
        tag.SetComment(Comment());
        Attributes(tag);
        const int children = depth < 4 ? Between(0, 3) : 0;
        if (children == 0)
            tag.SetValue(ElementValue());
        for (int i = 0; i < children; ++i) {
            TXMLTag child;
            Element(child, depth + 1);
            tag.AddChild(child);
        }
    }

    std::mt19937 Random;
};

TEST(RoundTrip, RandomTreesComeBackTheSame)
{
    TRandomTrees trees(20261207);
    for (int i = 0; i < 3000; ++i) {
        TXMLDocument written = trees.Document();
        const std::string text = written.AsText();
        TXMLDocument read;
        try {
            read.LoadFromText(text);
        } catch (const EXMLParseError& e) {
            FAIL() << "tree " << i << ": " << e.what() << " at " << e.Line << ":" << e.Column << "\n" << text;
        }
        ASSERT_EQ(TreeText(read), TreeText(written)) << "tree " << i << "\n" << text;
        ASSERT_EQ(read.AsText(), text) << "tree " << i;
    }
}

}  // namespace
