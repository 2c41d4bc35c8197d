// Whether a font has a glyph for a character beyond U+FFFF, from its character map: the 'cmap'
// table of a TrueType or OpenType font, as GetFontData gives it. GDI's own glyph lookup
// (GetGlyphIndicesW) takes UTF-16 units and cannot answer for such a character.
#pragma once

#include <cstddef>
#include <span>

// Looks in the subtables that can hold such characters: those of format 12 for Unicode
// (platform 0, or platform 3 with encoding 10). A table cut short or pointing outside itself
// maps nothing there.
bool CmapMapsCharacter(std::span<const std::byte> cmap, char32_t character);
