// fontconfig's best match for a pattern that names a font file, found among the fonts of
// that file only (see FontMatch.cpp).
#pragma once

// How many matches took the shortcut so far (for tests and measurements).
int FontFileMatchShortcuts();
