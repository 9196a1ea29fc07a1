// The elements of an XML text located by byte offsets.

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvalin {

// One element of an XML text, located by byte offsets into that text.
struct TXmlElement {
    std::string_view Name;
    std::size_t Begin = 0;        // the '<' of the start tag
    std::size_t StartTagEnd = 0;  // just after the start tag's '>'
    std::size_t EndTagBegin = 0;  // the '<' of the end tag; StartTagEnd for an empty element
    std::size_t End = 0;          // just after the element
    std::int32_t Parent = -1;
    std::int32_t FirstChild = -1;
    std::int32_t NextSibling = -1;
};

// A read-only tree of the elements of a well-formed XML text, for cutting the
// text apart and putting it together again without touching what lies between
// the elements. Declarations, the document type, comments, processing
// instructions and CDATA are skipped over, never interpreted. Elements deeper
// than maxDepth (the root is at depth 0) are checked but not kept, which spares
// the memory of a large document's innermost details. The text must outlive
// the tree. A malformed text throws EMusicXmlError.
class TXmlElementTree {
public:
    explicit TXmlElementTree(std::string_view text, int maxDepth = 1 << 30);

    std::string_view Text() const { return FText; }
    const TXmlElement& Root() const { return FElements.front(); }
    std::int32_t RootIndex() const { return 0; }
    const TXmlElement& At(std::int32_t index) const { return FElements[static_cast<std::size_t>(index)]; }

    // The element children of an element, in document order.
    std::vector<std::int32_t> Children(std::int32_t parent) const;
    std::vector<std::int32_t> Children(std::int32_t parent, std::string_view name) const;
    // The first child of that name, or -1.
    std::int32_t FirstChild(std::int32_t parent, std::string_view name) const;

    // The whole element as written, and what lies between its tags.
    std::string_view Source(std::int32_t index) const;
    std::string_view Content(std::int32_t index) const;
    // An attribute's value as written (entities left as they are).
    std::optional<std::string_view> Attribute(std::int32_t index, std::string_view name) const;

private:
    std::string_view FText;
    std::vector<TXmlElement> FElements;
};

// The text of character data with its entity and character references
// resolved (UTF-8), and surrounding white space removed.
std::string XmlUnescapedText(std::string_view content);

}  // namespace korvalin
