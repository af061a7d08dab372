#pragma once

#include <QString>

// Replies travel through the program as lower-case hexadecimal text, two
// characters per byte. hexByte turns the two characters at pos into the byte
// value: 'a'..'f' count 10..15, a decimal digit its value, anything else 0.
// Characters beyond the end of the text count as 0.
int hexByte(const QString& text, int pos = 0);

// A little-endian 16-bit field: the byte at pos is the low byte, the byte at
// pos + 2 the high byte.
int hexWord(const QString& text, int pos);
