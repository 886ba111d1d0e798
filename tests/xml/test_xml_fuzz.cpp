// No text crashes the parser: every input either parses or raises a syntax error.
#include "XML.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace {

// Texts near the grammar: random strings over the characters that steer the parser, and valid
// documents with a few bytes changed, inserted, removed, repeated or cut.
class TFuzzInputs {
public:
    explicit TFuzzInputs(uint32_t seed) : Random(seed) {}

    std::string Next() { return Chance(2) ? RandomText() : Mutated(); }

private:
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Random); }
    bool Chance(int oneIn) { return Between(1, oneIn) == 1; }

    char AnyByte()
    {
        static constexpr std::string_view Steering = "<<<>>>///"
                                                     "???"
                                                     "!!!===\"\"''&&;  \t\r\n\x08\xFF"
                                                     "abcxyz-";
        return Chance(4) ? static_cast<char>(Between(0, 255)) : Steering[Between(0, int(Steering.size()) - 1)];
    }

    std::string RandomText()
    {
        std::string text(static_cast<std::size_t>(Between(0, 64)), ' ');
        for (char& c : text)
            c = AnyByte();
        return text;
    }

    std::string Mutated()
    {
        static const std::vector<std::string> Seeds = {
            "<?xml version=\"1.0\"?>\r\n<CONNECT>\r\n <IPAddress>192.168.127.10</IPAddress>\r\n"
            " <TCPPort>502</TCPPort>\r\n</CONNECT>\r\n",
            "<!-- note --><root a=\"1\" b = \"&lt;&amp;\"><x /><y>t &gt; u</y><!c><z q=\"\"/></root>",
            "<a>one<b>two<c>three</c></b>four<?pi k=\"v\"?></a><d/>e</d/>",
            "<\xE8\xEC\xFF>\xFF\xE1\xEB</\xE8\xEC>\t<e\t>&foo;&#65;&</e\t>",
        };
        std::string text = Seeds[Between(0, int(Seeds.size()) - 1)];
        const int edits = Between(1, 4);
        for (int i = 0; i < edits && !text.empty(); ++i) {
            const std::size_t at = Between(0, int(text.size()) - 1);
            const std::size_t length = Between(1, 8);
            switch (Between(0, 4)) {
            case 0: text[at] = AnyByte(); break;
            case 1: text.insert(at, 1, AnyByte()); break;
            case 2: text.erase(at, length); break;
            case 3: text.insert(at, text.substr(at, length)); break;
            case 4: text.resize(at); break;
            }
        }
        return text;
    }

    std::mt19937 Random;
};

// Every stored name and value respects the 255-byte cut and every level its depth.
bool TreeIsSound(const TXMLTag& tag, int32_t depth)
{
    if (tag.Name().size() > XMLMaxShortString || tag.Value().size() > XMLMaxShortString || tag.Level() != depth)
        return false;
    for (int i = 0; i < tag.AttributeCount(); ++i)
        if (tag.Attribute(i).Name().size() > XMLMaxShortString || tag.Attribute(i).Value().size() > XMLMaxShortString)
            return false;
    for (int i = 0; i < tag.ChildCount(); ++i)
        if (!TreeIsSound(tag.Child(i), depth + 1))
            return false;
    return true;
}

TEST(Fuzz, RandomAndMutatedTextsParseOrRaiseASyntaxError)
{
    constexpr int Inputs = 200000;
    TFuzzInputs inputs(7);
    std::map<int, int> outcomes;  // -1 parsed, otherwise the error kind
    for (int i = 0; i < Inputs; ++i) {
        const std::string text = inputs.Next();
        TXMLDocument document;
        try {
            document.LoadFromText(text);
            ++outcomes[-1];
        } catch (const EXMLParseError& e) {
            ++outcomes[e.Kind];
            ASSERT_TRUE(e.Kind == 0 || e.Kind == 2 || e.Kind == 3 || e.Kind == 5) << int(e.Kind);
            ASSERT_LE(e.State, 12);
            ASSERT_GE(e.Line, 1);
            ASSERT_GE(e.Column, 1);
        } catch (...) {
            FAIL() << "unexpected exception for input " << i;
        }
        for (int t = 0; t < document.Count(); ++t)
            ASSERT_TRUE(TreeIsSound(document.Tag(t), 0)) << "input " << i;
        document.AsText();
    }
    // The inputs reach both sides of the grammar, not only its first error.
    EXPECT_GT(outcomes[-1], Inputs / 20);
    EXPECT_GT(outcomes[0], Inputs / 100);
    EXPECT_GT(outcomes[2], Inputs / 20);
    EXPECT_GT(outcomes[3], Inputs / 20);
}

}  // namespace
