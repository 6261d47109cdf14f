// Windows-1252 against Unicode. The five bytes the code page leaves undefined
// stand for the C1 controls of their value, and only they.
#pragma once

#include <cstdint>

uint16_t ZelCp1252ParaUnicode(unsigned char c);
// The byte of a code point, or -1 where the code page has none.
int ZelUnicodeParaCp1252(uint32_t u);
