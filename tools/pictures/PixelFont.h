// A tiny 5 x 7 pixel font for the lettering of the program's pictures: only the letters that
// the pictures use.
#ifndef M770B_TOOLS_PIXELFONT_H
#define M770B_TOOLS_PIXELFONT_H

constexpr int GlyphWidth = 5;
constexpr int GlyphHeight = 7;
constexpr int GlyphAdvance = GlyphWidth + 1;

// The glyph of `letter`, seven rows of five characters ('#' = ink), or null when the font does
// not have it. A blank has an empty glyph.
const char *const *GlyphOf(char letter);

#endif
