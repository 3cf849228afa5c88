// Virtual key codes, as key events and shortcuts carry them, and their mapping to Qt's keys.
#pragma once

#include "Types.h"

inline constexpr Word VK_ESCAPE = 27;
inline constexpr Word VK_F1 = 112;

// Virtual key code of a Qt key (0 when it has none).
Word QtKeyToVirtualKey(int qtKey);
// Qt's key for a virtual key code (0 when there is none).
int VirtualKeyToQtKey(Word key);
