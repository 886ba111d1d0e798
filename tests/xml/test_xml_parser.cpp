// The parser: which texts it accepts and the tree it builds, which it rejects and how it reports them.
#include "XML.h"
#include "XMLTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct TAccepted {
    const char* Title;
    std::string Text;
    std::string Tree;
};

std::ostream& operator<<(std::ostream& out, const TAccepted& c)
{
    return out << c.Title;
}

class ParserAccepts : public testing::TestWithParam<TAccepted> {};

TEST_P(ParserAccepts, BuildsTheTree)
{
    TXMLDocument document;
    document.LoadFromText(GetParam().Text);
    EXPECT_EQ(TreeText(document), GetParam().Tree);
}

const std::string Long300(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Texts, ParserAccepts,
    testing::Values(
        TAccepted{"empty text", "", ""},
        TAccepted{"blanks, line breaks and comments only", " \r\n\x08\xFF<!x>\r\n<!y>", ""},
        TAccepted{"text outside elements is skipped", "junk<a>x</a>junk", "a{x}"},
        TAccepted{"two top-level elements", "<a>1</a>\r\n<b>2</b>", "a{1} | b{2}"},
        TAccepted{"entity in text", "<a>1 &lt; 2</a>", "a{1 < 2}"},
        TAccepted{"all five entities", "<a>&lt;&gt;&amp;&apos;&quot;</a>", "a{<>&'\"}"},
        TAccepted{"line breaks vanish from text", "<a>line1\r\nline2</a>", "a{line1line2}"},
        TAccepted{"trailing blanks kept", "<a>text  </a>", "a{text  }"},
        TAccepted{"leading blanks skipped, я counts as one", "<a> \x08\xFF\xE1\xEB\xEE\xEA\xEE</a>",
                  "a{\xE1\xEB\xEE\xEA\xEE}"},
        TAccepted{"tab is part of a name", "<a\t>x</a\t>", "a\t{x}"},
        TAccepted{"tab starts text content", "<a>\tx</a>", "a{\tx}"},
        TAccepted{"comment before the root", "<!-- note -->\r\n<root>v</root>", "root{v}<!-- note -->"},
        TAccepted{"comments concatenate", "<!a><!b><r />", "r<!ab>"},
        TAccepted{"comment with no node after it is dropped", "<r>x</r><!tail>", "r{x}"},
        TAccepted{"declaration and element",
                  "<?xml version=\"1.0\"?>\r\n<CONNECT>\r\n <IPAddress>192.168.127.10</IPAddress>\r\n</CONNECT>\r\n",
                  "?xml(version=1.0) | CONNECT[IPAddress{192.168.127.10}]"},
        TAccepted{"declaration attributes need no blank between them", "<?xml version=\"1.0\"encoding=\"x\"?>",
                  "?xml(version=1.0 encoding=x)"},
        TAccepted{"empty element after a blank", "<b />", "b"},
        TAccepted{"empty element after an attribute", "<b x=\"1\"/>", "b(x=1)"},
        TAccepted{"slash right after the name belongs to it", "<b/>x</b/>", "b/{x}"},
        TAccepted{"blanks around '=' and no blank between attributes", "<a x = \"1\" y=\"2\"z=\"3\"></a>",
                  "a(x=1 y=2 z=3)"},
        TAccepted{"я around an attribute name is trimmed", "<a \xFFx\xFF=\xFF\"1\"/>", "a(x=1)"},
        TAccepted{"attribute value holds markup and decodes entities", "<a x=\"<'>&amp;\"/>", "a(x=<'>&)"},
        TAccepted{"nested levels", "<a><b><c>x</c></b></a>", "a[b[c{x}]]"},
        TAccepted{"the last non-blank text run wins", "<a>one<b />two</a>", "a{two}[b]"},
        TAccepted{"a blank run does not overwrite", "<a>one<b />  </a>", "a{one}[b]"},
        TAccepted{"value beside children keeps the next line's indentation", "<a>\r\n     v\r\n <b>x</b>\r\n</a>",
                  "a{v }[b{x}]"},
        TAccepted{"text after a comment in content is skipped", "<a><!c>skipped</a>", "a"},
        TAccepted{"comment goes to the next child", "<a><!c><b>x</b></a>", "a[b{x}<!c>]"},
        TAccepted{"child names are not decoded", "<r><a&lt;b>x</a&lt;b></r>", "r[a&lt;b{x}]"},
        TAccepted{"unknown and numeric references and a lone '&' are kept", "<a>&foo; &#65; &amp</a>",
                  "a{&foo; &#65; &amp}"},
        TAccepted{"declaration inside content becomes a child, content continues", "<a><?pi x=\"1\"?>text</a>",
                  "a{text}[?pi(x=1)]"},
        TAccepted{"text may end inside a closing tag", "<a>x</a", "a{x}"},
        TAccepted{"text may end after '/' in a tag", "<a /", "a"},
        TAccepted{"text may end after a comment in content", "<a><!c>", "a"},
        TAccepted{"a closing tag at the top with an empty name adds nothing", "</><a>x</a>", "a{x}"},
        TAccepted{"value is cut to 255 bytes", "<a>" + Long300 + "</a>", "a{" + Long300.substr(0, 255) + "}"},
        TAccepted{"attribute value is cut to 255 bytes", "<a x=\"" + Long300 + "\"/>",
                  "a(x=" + Long300.substr(0, 255) + ")"}));

struct TRejected {
    const char* Title;
    std::string Text;
    uint8_t Kind;
    uint8_t State;
    int32_t Line;
    int32_t Column;
    std::string Message;
};

std::ostream& operator<<(std::ostream& out, const TRejected& c)
{
    return out << c.Title;
}

class ParserRejects : public testing::TestWithParam<TRejected> {};

TEST_P(ParserRejects, WithKindStatePositionAndMessage)
{
    const TRejected& c = GetParam();
    TXMLDocument document;
    try {
        document.LoadFromText(c.Text);
        FAIL() << "accepted";
    } catch (const EXMLParseError& e) {
        EXPECT_EQ(e.Kind, c.Kind);
        EXPECT_EQ(e.State, c.State);
        EXPECT_EQ(e.Line, c.Line);
        EXPECT_EQ(e.Column, c.Column);
        EXPECT_EQ(e.what(), c.Message);
    }
}

const std::string BadName = "Недопустимое имя закрывающего тега : ";
const std::string BadChar = "Недопустимый символ : ";
const std::string Unexpected = "Неожиданное завершение текста.";

// The first character of a line reports column 2.
INSTANTIATE_TEST_SUITE_P(
    Texts, ParserRejects,
    testing::Values(
        TRejected{"closing name compared with case", "<a>x</A>", 0, 4, 1, 9, BadName + "A"},
        TRejected{"blank inside a closing tag", "<a>x</a >", 0, 4, 1, 10, BadName + "a "},
        TRejected{"closing tag before any element", "</a>", 0, 4, 1, 5, BadName + "a"},
        TRejected{"top-level name is decoded, its closing name is not", "<a&lt;b>x</a&lt;b>", 0, 4, 1, 19,
                  BadName + "a&lt;b"},
        TRejected{"я ends a name, closing name quoted in UTF-8", "<\xE8\xEC\xFF></\xE8\xEC\xFF>", 0, 4, 1, 12,
                  BadName + "имя"},
        TRejected{"line counted by CR", "<a>\r\n<b>\r\n</c>", 0, 4, 3, 5, BadName + "c"},
        TRejected{"LF alone moves nothing", "<a>\n\n</c>", 0, 4, 1, 8, BadName + "c"},
        TRejected{"single-quoted value", "<a x='1'>", 2, 9, 1, 7, BadChar + "'"},
        TRejected{"attribute without value", "<a x>", 2, 8, 1, 6, BadChar + ">"},
        TRejected{"forbidden first attribute character reported in state 8", "<a &>", 2, 8, 1, 5, BadChar + "&"},
        TRejected{"'=' starts an attribute name", "<a =\"1\">", 2, 8, 1, 6, BadChar + "\""},
        TRejected{"backspace not a blank after '='", "<a x=\x08\"1\">", 2, 9, 1, 7, BadChar + "\x08"},
        TRejected{"Cyrillic offending character in UTF-8", "<a x=\xE6", 2, 9, 1, 7, BadChar + "ж"},
        TRejected{"upper half of the code page in UTF-8", "<a x=\xB9", 2, 9, 1, 7, BadChar + "№"},
        TRejected{"unassigned byte as the replacement character", "<a x=\x98", 2, 9, 1, 7, BadChar + "\uFFFD"},
        TRejected{"'<' after '<'", "<<a>", 2, 1, 1, 3, BadChar + "<"},
        TRejected{"'<' inside an element name", "<a<b>", 2, 5, 1, 4, BadChar + "<"},
        TRejected{"'<' inside a declaration name", "<?x<", 2, 3, 1, 5, BadChar + "<"},
        TRejected{"anything but '>' after '/' in a tag", "<b /x>", 2, 11, 1, 6, BadChar + "x"},
        TRejected{"after <", "<", 3, 1, 1, 2, Unexpected}, TRejected{"inside <!", "<!-- c", 3, 2, 1, 7, Unexpected},
        TRejected{"declaration needs a blank after its name", "<?xml?>", 3, 3, 1, 8, Unexpected},
        TRejected{"inside an element name", "<a", 3, 5, 1, 3, Unexpected},
        TRejected{"right after an attribute value", "<a x=\"1\"", 3, 6, 1, 9, Unexpected},
        TRejected{"element content", "<a>", 3, 7, 1, 4, Unexpected},
        TRejected{"inside an attribute name", "<a x", 3, 8, 1, 5, Unexpected},
        TRejected{"after '='", "<a x=", 3, 9, 1, 6, Unexpected},
        TRejected{"inside an attribute value", "<a x=\"1", 3, 10, 1, 8, Unexpected},
        TRejected{"text content", "<a>x", 3, 12, 1, 5, Unexpected},
        TRejected{"a child may end after '/', its parent may not", "<a><b /", 3, 7, 1, 8, Unexpected},
        TRejected{"a child may end inside its closing tag, its parent may not", "<r><a>x</a", 3, 7, 1, 11, Unexpected},
        TRejected{"a name over 255 bytes is cut, its closing name is compared in full",
                  "<" + Long300 + ">x</" + Long300 + ">", 0, 4, 1, 607, BadName + Long300}));

TEST(Parser, NodesCompletedBeforeAnErrorStay)
{
    TXMLDocument document;
    document.LoadFromText("<a>keep</a>");
    try {
        document.LoadFromText("<b>1</b><c x='1'>");
        FAIL() << "accepted";
    } catch (const EXMLParseError& e) {
        EXPECT_EQ(e.Kind, 2);
    }
    EXPECT_EQ(TreeText(document), "a{keep} | b{1}");
}

TEST(Parser, ReturnsThePositionAfterTheConstructAndSharesTheCounters)
{
    const std::string text = "<a>x</a>\r\n<b />";
    TXMLTag tag;
    int32_t line = 1;
    int32_t column = 1;
    EXPECT_EQ(tag.Parse(text, 0, line, column, 0), 8u);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(column, 9);
    EXPECT_EQ(TreeText(tag), "a{x}");

    TXMLTag next;
    EXPECT_EQ(next.Parse(text, 8, line, column, 0), text.size());
    EXPECT_EQ(line, 2);
    EXPECT_EQ(column, 6);
    EXPECT_EQ(TreeText(next), "b");
}

TEST(Parser, DeepNestingNeedsNoStack)
{
    constexpr int Depth = 200000;
    std::string text;
    for (int i = 0; i < Depth; ++i)
        text += "<a>";
    text += "v";
    for (int i = 0; i < Depth; ++i)
        text += "</a>";

    TXMLDocument document;
    document.LoadFromText(text);
    const TXMLTag* deepest = &document.Tag(0);
    while (deepest->ChildCount() > 0)
        deepest = &deepest->Child(0);
    EXPECT_EQ(deepest->Level(), Depth - 1);
    EXPECT_EQ(deepest->Value(), "v");

    TXMLTag copy;
    copy.Assign(document.Tag(0));
    EXPECT_EQ(copy.GetValue("a\\a\\a"), "");
    EXPECT_EQ(copy.Child(0).Child(0).Level(), 2);
}

TEST(DecodeEntities, ReplacesTheFiveNamedReferencesAndKeepsAnythingElse)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"a&lt;b", "a<b"},
        {"&lt;&gt;&amp;&apos;&quot;", "<>&'\""},
        {"&amp;lt;", "&lt;"},
        {"&LT;", "&LT;"},
        {"&#65;&#x41;", "&#65;&#x41;"},
        {"&;", "&;"},
        {"a & b", "a & b"},
        {"&&lt;", "&<"},
        {"x &amp", "x &amp"},
        {";&", ";&"},
    };
    for (const auto& [text, decoded] : cases)
        EXPECT_EQ(DecodeEntities(text), decoded) << text;
}

}  // namespace
