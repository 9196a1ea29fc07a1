// A small reader of well-formed XML that records where each element's tags
// lie, for cutting a document apart without rewriting it.

#include "XmlElementTree.h"

#include <charconv>

#include "MusicXmlExporter.h"

namespace korvalin {
namespace {

[[noreturn]] void Malformed(std::string_view what, std::size_t at) {
    throw EMusicXmlError("The MusicXML document is malformed: " + std::string(what) + " at byte " + std::to_string(at));
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameEnd(char c) { return IsSpace(c) || c == '/' || c == '>'; }

// The offset just after `terminator`, searched from `from`.
std::size_t After(std::string_view text, std::size_t from, std::string_view terminator, std::string_view what) {
    const std::size_t found = text.find(terminator, from);
    if (found == std::string_view::npos) Malformed("unterminated " + std::string(what), from);
    return found + terminator.size();
}

// A document type declaration may carry an internal subset in brackets, whose
// declarations hold '>' of their own, and quoted literals anywhere.
std::size_t AfterDeclaration(std::string_view text, std::size_t from) {
    int brackets = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = text.find(c, i + 1);
            if (close == std::string_view::npos) break;
            i = close;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            return i + 1;
        }
    }
    Malformed("unterminated declaration", from);
}

// The end of a start tag: the offset just after its '>', quoted values skipped.
std::size_t AfterStartTag(std::string_view text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = text.find(c, i + 1);
            if (close == std::string_view::npos) break;
            i = close;
        } else if (c == '>') {
            return i + 1;
        } else if (c == '<') {
            break;
        }
    }
    Malformed("unterminated start tag", from);
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// One reference ("amp", "#233", "#xE9"); false when it is none we know.
bool AppendReference(std::string& out, std::string_view name) {
    if (name == "amp") out += '&';
    else if (name == "lt") out += '<';
    else if (name == "gt") out += '>';
    else if (name == "quot") out += '"';
    else if (name == "apos") out += '\'';
    else if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        std::uint32_t code = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() || code == 0 ||
            code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        AppendUtf8(out, code);
    } else {
        return false;
    }
    return true;
}

}  // namespace

TXmlElementTree::TXmlElementTree(std::string_view text, int maxDepth) : FText(text) {
    // Every open element by name; only those up to maxDepth are recorded.
    struct TOpen {
        std::string_view Name;
        std::int32_t Index;      // -1 when not recorded
        std::int32_t LastChild;  // the last recorded child so far
    };
    std::vector<TOpen> open;
    std::size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (true) {
        const std::size_t lt = text.find('<', i);
        if (lt == std::string_view::npos) break;
        const std::string_view rest = text.substr(lt);
        if (rest.starts_with("<?")) {
            i = After(text, lt + 2, "?>", "processing instruction");
        } else if (rest.starts_with("<!--")) {
            i = After(text, lt + 4, "-->", "comment");
        } else if (rest.starts_with("<![CDATA[")) {
            if (open.empty()) Malformed("character data outside the root element", lt);
            i = After(text, lt + 9, "]]>", "CDATA section");
        } else if (rest.starts_with("<!")) {
            i = AfterDeclaration(text, lt + 2);
        } else if (rest.starts_with("</")) {
            std::size_t nameEnd = lt + 2;
            while (nameEnd < text.size() && !IsNameEnd(text[nameEnd])) ++nameEnd;
            const std::string_view name = text.substr(lt + 2, nameEnd - lt - 2);
            if (open.empty() || open.back().Name != name)
                Malformed("unexpected end tag </" + std::string(name) + ">", lt);
            i = After(text, nameEnd, ">", "end tag");
            if (open.back().Index >= 0) {
                TXmlElement& element = FElements[static_cast<std::size_t>(open.back().Index)];
                element.EndTagBegin = lt;
                element.End = i;
            }
            open.pop_back();
        } else {
            std::size_t nameEnd = lt + 1;
            while (nameEnd < text.size() && !IsNameEnd(text[nameEnd])) ++nameEnd;
            if (nameEnd == lt + 1) Malformed("element without a name", lt);
            if (open.empty() && !FElements.empty()) Malformed("a second root element", lt);
            const std::size_t tagEnd = AfterStartTag(text, nameEnd);
            const bool empty = text[tagEnd - 2] == '/';
            const std::string_view name = text.substr(lt + 1, nameEnd - lt - 1);

            std::int32_t index = -1;
            if (open.size() <= static_cast<std::size_t>(maxDepth) && (open.empty() || open.back().Index >= 0)) {
                index = static_cast<std::int32_t>(FElements.size());
                TXmlElement element;
                element.Name = name;
                element.Begin = lt;
                element.StartTagEnd = tagEnd;
                element.EndTagBegin = tagEnd;
                element.End = tagEnd;
                if (!open.empty()) {
                    element.Parent = open.back().Index;
                    if (open.back().LastChild < 0)
                        FElements[static_cast<std::size_t>(open.back().Index)].FirstChild = index;
                    else FElements[static_cast<std::size_t>(open.back().LastChild)].NextSibling = index;
                    open.back().LastChild = index;
                }
                FElements.push_back(element);
            }
            if (!empty) open.push_back({name, index, -1});
            i = tagEnd;
        }
    }
    if (!open.empty()) Malformed("unclosed element <" + std::string(open.back().Name) + ">", text.size());
    if (FElements.empty()) Malformed("no root element", 0);
}

std::vector<std::int32_t> TXmlElementTree::Children(std::int32_t parent) const {
    std::vector<std::int32_t> children;
    for (std::int32_t child = At(parent).FirstChild; child >= 0; child = At(child).NextSibling)
        children.push_back(child);
    return children;
}

std::vector<std::int32_t> TXmlElementTree::Children(std::int32_t parent, std::string_view name) const {
    std::vector<std::int32_t> children;
    for (std::int32_t child = At(parent).FirstChild; child >= 0; child = At(child).NextSibling)
        if (At(child).Name == name) children.push_back(child);
    return children;
}

std::int32_t TXmlElementTree::FirstChild(std::int32_t parent, std::string_view name) const {
    for (std::int32_t child = At(parent).FirstChild; child >= 0; child = At(child).NextSibling)
        if (At(child).Name == name) return child;
    return -1;
}

std::string_view TXmlElementTree::Source(std::int32_t index) const {
    const TXmlElement& element = At(index);
    return FText.substr(element.Begin, element.End - element.Begin);
}

std::string_view TXmlElementTree::Content(std::int32_t index) const {
    const TXmlElement& element = At(index);
    return FText.substr(element.StartTagEnd, element.EndTagBegin - element.StartTagEnd);
}

std::optional<std::string_view> TXmlElementTree::Attribute(std::int32_t index, std::string_view name) const {
    const TXmlElement& element = At(index);
    const std::string_view tag = FText.substr(element.Begin, element.StartTagEnd - element.Begin);
    std::size_t i = 1 + element.Name.size();
    while (i < tag.size()) {
        while (i < tag.size() && IsSpace(tag[i])) ++i;
        const std::size_t nameBegin = i;
        while (i < tag.size() && tag[i] != '=' && !IsNameEnd(tag[i])) ++i;
        const std::string_view attribute = tag.substr(nameBegin, i - nameBegin);
        while (i < tag.size() && IsSpace(tag[i])) ++i;
        if (attribute.empty() || i >= tag.size() || tag[i] != '=') return std::nullopt;
        ++i;
        while (i < tag.size() && IsSpace(tag[i])) ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) return std::nullopt;
        const std::size_t close = tag.find(tag[i], i + 1);
        if (close == std::string_view::npos) return std::nullopt;
        if (attribute == name) return tag.substr(i + 1, close - i - 1);
        i = close + 1;
    }
    return std::nullopt;
}

std::string XmlUnescapedText(std::string_view content) {
    std::string out;
    out.reserve(content.size());
    for (std::size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c == '<') {
            // Markup inside the text (a comment, a nested element) is no text.
            if (content.substr(i).starts_with("<![CDATA[")) {
                const std::size_t close = content.find("]]>", i + 9);
                out.append(
                    content.substr(i + 9, close == std::string_view::npos ? std::string_view::npos : close - i - 9));
                if (close == std::string_view::npos) break;
                i = close + 2;
                continue;
            }
            const std::size_t close = content.find('>', i);
            if (close == std::string_view::npos) break;
            i = close;
        } else if (c == '&') {
            const std::size_t semicolon = content.find(';', i);
            if (semicolon != std::string_view::npos && semicolon - i <= 10 &&
                AppendReference(out, content.substr(i + 1, semicolon - i - 1))) {
                i = semicolon;
            } else {
                out += c;
            }
        } else {
            out += c;
        }
    }
    const std::size_t first = out.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const std::size_t last = out.find_last_not_of(" \t\r\n");
    return out.substr(first, last - first + 1);
}

}  // namespace korvalin
