// Scripts use the text model of the player's text fields.
#pragma once

#include "flash/text/document.h"

namespace qm::flash::avm1 {

using text::TextStyle;
using text::Utf32;
using text::Utf8;

// A field's document as scripts keep it.
class TextDocument : public text::TextDocument {
public:
    explicit TextDocument(text::TextDocument doc) : text::TextDocument(std::move(doc)) {}
    using text::TextDocument::TextDocument;
};

}  // namespace qm::flash::avm1
