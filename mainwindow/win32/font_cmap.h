// Whether a font has a glyph for a character, from its character map: the 'cmap' table of a
// TrueType or OpenType font, as GetFontData gives it. No Windows call: GDI's own glyph lookup
// (GetGlyphIndicesW) takes UTF-16 units and cannot answer for a character beyond U+FFFF.
#pragma once

#include <cstddef>
#include <span>

// Looks in the Unicode subtables (platform 0, and platform 3 with encoding 1 or 10) of the two
// formats fonts use for them: 4 (up to U+FFFF) and 12 (all of Unicode). A table cut short or
// pointing outside itself maps nothing there.
bool CmapMapsCharacter(std::span<const std::byte> cmap, char32_t character);
