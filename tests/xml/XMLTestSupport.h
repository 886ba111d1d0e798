#pragma once
// Shared by the XML tests: the connection settings example and a compact picture of a tree.

#include "XML.h"

#include <string>

// The settings file as the program writes it.
inline const std::string ExampleText = "<CONNECT>\r\n"
                                       " <IPAddress>192.168.127.10</IPAddress>\r\n"
                                       " <TCPPort>502</TCPPort>\r\n"
                                       "</CONNECT>\r\n";

inline TXMLDocument Example()
{
    TXMLDocument document;
    document.SetValue("CONNECT\\IPAddress", "192.168.127.10");
    document.SetValue("CONNECT\\TCPPort", "502");
    return document;
}

// A picture of a tree for comparing expected and actual documents:
//   ?name            declaration          name(a=1 b=2)   attributes
//   name{value}      Value                name<!text>     Comment
//   name[c1,c2]      children             name@5          Level, shown only when it is not the depth
// Top-level nodes are separated by " | ".
inline std::string TreeText(const TXMLTag& tag, int32_t depth = 0)
{
    std::string out = tag.IsDeclaration() ? "?" : "";
    out += tag.Name();
    if (tag.AttributeCount() > 0) {
        out += '(';
        for (int i = 0; i < tag.AttributeCount(); ++i)
            out += (i ? " " : "") + tag.Attribute(i).Name() + "=" + tag.Attribute(i).Value();
        out += ')';
    }
    if (!tag.Value().empty())
        out += "{" + tag.Value() + "}";
    if (!tag.Comment().empty())
        out += "<!" + tag.Comment() + ">";
    if (tag.Level() != depth)
        out += "@" + std::to_string(tag.Level());
    if (tag.ChildCount() > 0) {
        out += '[';
        for (int i = 0; i < tag.ChildCount(); ++i)
            out += (i ? "," : "") + TreeText(tag.Child(i), depth + 1);
        out += ']';
    }
    return out;
}

inline std::string TreeText(const TXMLDocument& document)
{
    std::string out;
    for (int i = 0; i < document.Count(); ++i)
        out += (i ? " | " : "") + TreeText(document.Tag(i));
    return out;
}
