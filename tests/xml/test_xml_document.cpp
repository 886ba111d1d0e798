// The document: tree operations, the writer and access by path.
#include "XML.h"
#include "XMLTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(Writer, SettingsExampleByteForByte)
{
    TXMLDocument document = Example();
    EXPECT_EQ(document.AsText(), ExampleText);
}

TEST(Writer, EmptyDocumentGivesEmptyText)
{
    TXMLDocument document;
    EXPECT_EQ(document.AsText(), "");
}

struct TWritten {
    const char* Title;
    std::function<void(TXMLTag&)> Build;
    std::string Text;
};

std::ostream& operator<<(std::ostream& out, const TWritten& c)
{
    return out << c.Title;
}

class WriterWrites : public testing::TestWithParam<TWritten> {};

TEST_P(WriterWrites, NodeText)
{
    TXMLTag tag;
    GetParam().Build(tag);
    EXPECT_EQ(tag.AsText(), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(Nodes, WriterWrites,
                         testing::Values(TWritten{"attributes end the start tag with a space",
                                                  [](TXMLTag& t) {
                                                      t.SetName("a");
                                                      t.AddAttribute("x", "1");
                                                      t.AddAttribute("y", "2");
                                                      t.SetValue("v");
                                                  },
                                                  "<a x=\"1\" y=\"2\" >v</a>"},
                                         TWritten{"empty element has a closing line",
                                                  [](TXMLTag& t) { t.SetName("a"); }, "<a>\r\n</a>"},
                                         TWritten{"value beside children on its own line",
                                                  [](TXMLTag& t) {
                                                      t.SetName("a");
                                                      t.SetValue("v");
                                                      t.SetValue("b", "x");
                                                  },
                                                  "<a>\r\n     v\r\n <b>x</b>\r\n</a>"},
                                         TWritten{"one space of indent per level",
                                                  [](TXMLTag& t) {
                                                      t.SetName("a");
                                                      t.SetValue("b\\c", "x");
                                                      t.SetValue("b\\d", "");
                                                  },
                                                  "<a>\r\n <b>\r\n  <c>x</c>\r\n  <d>\r\n  </d>\r\n </b>\r\n</a>"},
                                         TWritten{"comment line before the node, at its indent",
                                                  [](TXMLTag& t) {
                                                      t.SetName("a");
                                                      t.SetComment("-- top --");
                                                      TXMLTag child;
                                                      child.SetName("b");
                                                      child.SetComment("c");
                                                      child.SetValue("1");
                                                      t.AddChild(child);
                                                  },
                                                  "<!-- top -->\r\n<a>\r\n <!c>\r\n <b>1</b>\r\n</a>"},
                                         TWritten{"a nameless node writes only its comment line",
                                                  [](TXMLTag& t) { t.SetComment("c"); }, "<!c>\r\n"},
                                         TWritten{"nothing is escaped",
                                                  [](TXMLTag& t) {
                                                      t.SetName("a");
                                                      t.AddAttribute("q", "<&'>");
                                                      t.SetValue("a<b&\"");
                                                  },
                                                  "<a q=\"<&'>\" >a<b&\"</a>"},
                                         TWritten{"declaration: no separator, no value, no children",
                                                  [](TXMLTag& t) {
                                                      t.SetName("xml");
                                                      t.SetIsDeclaration(true);
                                                      t.AddAttribute("version", "1,0");
                                                      t.AddAttribute("encoding", "x");
                                                      t.SetValue("lost");
                                                      t.SetValue("child", "lost");
                                                  },
                                                  "<?xml version=\"1.0\"encoding=\"x\"?>"},
                                         TWritten{"declaration without attributes",
                                                  [](TXMLTag& t) {
                                                      t.SetName("pi");
                                                      t.SetIsDeclaration(true);
                                                  },
                                                  "<?pi ?>"},
                                         TWritten{"only the first comma of a version, any letter case of its name",
                                                  [](TXMLTag& t) {
                                                      t.SetName("xml");
                                                      t.SetIsDeclaration(true);
                                                      t.AddAttribute("VERSION", "1,0,1");
                                                      t.AddAttribute("other", "1,0");
                                                  },
                                                  "<?xml VERSION=\"1.0,1\"other=\"1,0\"?>"}));

TEST(Writer, DeclarationKeepsTheMendedVersion)
{
    TXMLDocument document;
    document.LoadFromText("<?xml version=\"1,0\" ?>");
    EXPECT_EQ(document.AsText(), "<?xml version=\"1.0\"?>\r\n");
    EXPECT_EQ(document.Tag(0).Attribute(0).Value(), "1.0");
}

TEST(Paths, GetValue)
{
    TXMLDocument document;
    document.LoadFromText(ExampleText);
    const std::pair<std::string, std::string> cases[] = {
        {"Connect\\TCPPort", "502"},
        {"CONNECT\\IPAddress", "192.168.127.10"},
        {"\\CONNECT\\TCPPort", "502"},
        {"connect\\tcpport\\", "502"},
        {"CONNECT\\\\TCPPort", "502"},
        {"CONNECT", ""},
        {"CONNECT\\Missing", ""},
        {"Missing\\TCPPort", ""},
        {"CONNECT\\TCPPort\\Deeper", ""},
        {"", ""},
        {"\\", ""},
        {"\\\\", ""},
    };
    for (const auto& [path, value] : cases)
        EXPECT_EQ(document.GetValue(path), value) << path;
}

TEST(Paths, OnlyLatinLettersAreFolded)
{
    TXMLDocument document;
    document.SetValue("\xCF\xCE\xD0\xD2", "502");          // ПОРТ
    EXPECT_EQ(document.GetValue("\xEF\xEE\xF0\xF2"), "");  // порт
    EXPECT_EQ(document.GetValue("\xCF\xCE\xD0\xD2"), "502");
}

TEST(Paths, FirstMatchIsTakenEvenWhenTheRestFailsBelowIt)
{
    TXMLDocument document;
    document.LoadFromText("<a>1</a><A><b>2</b></A><r><x>3</x><X><y>4</y></X></r>");
    EXPECT_EQ(document.GetValue("A"), "1");
    EXPECT_EQ(document.GetValue("a\\b"), "");
    EXPECT_EQ(document.GetValue("r\\X\\y"), "");
    document.SetValue("A", "5");
    EXPECT_EQ(document.Tag(0).Value(), "5");
    EXPECT_EQ(document.Tag(1).Value(), "");
}

TEST(Paths, SetValueReplacesWithoutAddingOrRenaming)
{
    TXMLDocument document;
    document.LoadFromText(ExampleText);
    document.SetValue("connect\\tcpport", "503");
    EXPECT_EQ(TreeText(document), "CONNECT[IPAddress{192.168.127.10},TCPPort{503}]");
}

TEST(Paths, SetValueCreatesWhatIsMissingWithItsLevels)
{
    TXMLDocument document;
    document.SetValue("a\\b\\c", "1");
    document.SetValue("A\\b\\D", "2");
    document.SetValue("a", "3");
    document.SetValue("e", "4");
    EXPECT_EQ(TreeText(document), "a{3}[b[c{1},D{2}]] | e{4}");
}

TEST(Paths, DoubledBackslashesNeitherFailNorAddNamelessNodes)
{
    TXMLDocument document;
    document.SetValue("\\", "x");
    document.SetValue("\\\\", "x");
    document.SetValue("\\\\a\\\\\\b\\\\", "1");
    EXPECT_EQ(TreeText(document), "a[b{1}]");
}

TEST(Paths, OnANode)
{
    TXMLTag tag;
    tag.SetName("root");
    tag.SetValue("x\\y", "1");
    EXPECT_EQ(tag.GetValue("X\\Y"), "1");
    EXPECT_EQ(tag.GetValue(""), "");
    EXPECT_EQ(tag.GetValue("root"), "");
    tag.SetValue("", "own");
    EXPECT_EQ(tag.Value(), "own");
    tag.SetValue("\\", "again");
    EXPECT_EQ(TreeText(tag), "root{again}[x[y{1}]]");
}

TEST(ShortStrings, NamesAndValuesKeepTheirFirst255Bytes)
{
    const std::string long300(300, 'n');
    const std::string cut = long300.substr(0, 255);
    TXMLTag tag;
    tag.SetName(long300);
    tag.SetValue(long300);
    TXMLAttribute& attribute = tag.AddAttribute(long300, long300);
    tag.SetComment(long300);
    EXPECT_EQ(tag.Name(), cut);
    EXPECT_EQ(tag.Value(), cut);
    EXPECT_EQ(attribute.Name(), cut);
    EXPECT_EQ(attribute.Value(), cut);
    EXPECT_EQ(tag.Comment(), long300);

    TXMLDocument document;
    document.SetValue("a", long300);
    EXPECT_EQ(document.GetValue("a"), cut);
}

TEST(Tree, BadIndexesRaiseInvalidListIndex)
{
    TXMLDocument document;
    document.LoadFromText("<a x=\"1\"><b /></a>");
    TXMLTag& a = document.Tag(0);
    const std::function<void()> misuses[] = {
        [&] { document.Tag(-1); }, [&] { document.Tag(1); }, [&] { a.Child(-1); },
        [&] { a.Child(1); },       [&] { a.Attribute(1); },  [&] { a.Child(0).Attribute(0); },
    };
    for (const auto& misuse : misuses) {
        try {
            misuse();
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "Invalid list index");
        }
    }
}

TEST(Tree, AssignMakesAnIndependentDeepCopyWithTheSourceLevel)
{
    TXMLDocument document;
    document.LoadFromText("<r><!c><a x=\"1\">\r\n <b>2</b>\r\n <?d y=\"3\"?></a></r>");
    const TXMLTag& a = document.Tag(0).Child(0);
    ASSERT_EQ(a.Level(), 1);

    TXMLTag copy;
    copy.SetComment("old");
    copy.SetValue("x\\y", "old");
    copy.Assign(a);
    EXPECT_EQ(TreeText(copy, 1), "a(x=1)<!c>[b{2},?d(y=3)]");
    EXPECT_EQ(copy.Level(), 1);

    copy.Child(0).SetValue("changed");
    copy.Attribute(0).SetValue("changed");
    EXPECT_EQ(TreeText(a, 1), "a(x=1)<!c>[b{2},?d(y=3)]");
}

TEST(Tree, AddChildAndAddTagCopyAndRelevel)
{
    TXMLDocument document;
    document.LoadFromText("<r><a><b><c>1</c></b></a></r>");
    const TXMLTag& b = document.Tag(0).Child(0).Child(0);  // level 2

    TXMLTag host;
    host.SetName("host");
    TXMLTag& added = host.AddChild(b);
    EXPECT_EQ(TreeText(host), "host[b[c{1}]]");
    EXPECT_EQ(added.Level(), 1);

    // AddTag keeps the source's level; the writer indents by it.
    TXMLTag& top = document.AddTag(b);
    EXPECT_EQ(top.Level(), 2);
    EXPECT_EQ(top.Child(0).Level(), 3);
}

TEST(Tree, CopiesFromInsideTheTargetItself)
{
    TXMLDocument document;
    document.LoadFromText("<a><b><c>1</c></b></a>");
    TXMLTag& a = document.Tag(0);
    a.AddChild(a);
    EXPECT_EQ(TreeText(a), "a[b[c{1}],a[b[c{1}]]]");
    a.Assign(a.Child(0));
    EXPECT_EQ(TreeText(a, 1), "b[c{1}]");
    a.Assign(a);
    EXPECT_EQ(TreeText(a, 1), "b[c{1}]");
}

TEST(Tree, ClearKeepsCommentAndLevel)
{
    TXMLDocument document;
    document.LoadFromText("<r><!c><?a x=\"1\"?></r>");
    TXMLTag& a = document.Tag(0).Child(0);
    a.Clear();
    EXPECT_EQ(TreeText(a, 1), "<!c>");
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_FALSE(a.IsDeclaration());
}

}  // namespace
