// The tag body parsers, one family per file; shared by the tag loop.
#pragma once

#include <vector>

#include "swf/reader.h"
#include "swf/swf.h"

namespace qm::swf::detail {

// Shapes and styles (shape_parser.cpp). `shape_version` is 1..4.
FillStyle ReadFillStyle(Reader& r, int shape_version);
std::vector<FillStyle> ReadFillStyleArray(Reader& r, int shape_version);
std::vector<LineStyle> ReadLineStyleArray(Reader& r, int shape_version);
// Records up to and including the end record; `fill_bits`/`line_bits` are the
// widths in force at the start.
std::vector<ShapeRecord> ReadShapeRecords(Reader& r, int shape_version, unsigned fill_bits, unsigned line_bits);
// A SHAPE (fonts, morph edges): the bit widths byte, then the records.
std::vector<ShapeRecord> ReadShape(Reader& r, int shape_version);
Shape ReadDefineShape(Reader& r, int version);
MorphShape ReadDefineMorphShape(Reader& r, int version);

// Display list (display_parser.cpp).
PlaceObject ReadPlaceObject(Reader& r, int version);
RemoveObject ReadRemoveObject(Reader& r, int version);
std::vector<Filter> ReadFilterList(Reader& r);
ClipActions ReadClipActions(Reader& r);

// Fonts and text (text_parser.cpp).
Font ReadDefineFont(Reader& r);
Font ReadDefineFont23(Reader& r, int version);
FontInfo ReadFontInfo(Reader& r, int version);
FontAlignZones ReadFontAlignZones(Reader& r);
Text ReadDefineText(Reader& r, int version);
EditText ReadDefineEditText(Reader& r);

// Buttons, sounds, bitmaps, video (media_parser.cpp).
Button ReadDefineButton(Reader& r, int version);
ButtonCxform ReadButtonCxform(Reader& r);
ButtonSound ReadButtonSound(Reader& r);
SoundInfo ReadSoundInfo(Reader& r);
DefineSound ReadDefineSound(Reader& r);
SoundStreamHead ReadSoundStreamHead(Reader& r, int version);
Bitmap ReadBitmap(Reader& r, uint16_t code);
ImageFormat DetectImageFormat(std::span<const uint8_t> data);

// Tag streams (movie_parser.cpp): reads tags until End or the end of data.
// A damaged stream stops with `*truncated` set; tags read so far are kept.
// With `frames_in_place`, the tags of frames are read (for their warnings)
// but not kept, in sprites too.
void ReadTagStream(std::span<const uint8_t> data, uint64_t base, uint8_t version, int sprite_depth,
                   std::vector<Tag>& tags, std::vector<ParseError>& warnings,
                   std::optional<ParseError>& truncated, bool frames_in_place = false);
TagBody ReadTagBody(uint16_t code, Reader& r, int sprite_depth, std::vector<ParseError>& warnings,
                    bool frames_in_place = false);

}  // namespace qm::swf::detail
