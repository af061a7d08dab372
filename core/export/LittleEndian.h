#pragma once

#include <cstdint>

// Workbook files are little-endian throughout, whatever the machine. Written
// byte by byte: the compiler's bounds check misreads the library's memcpy
// version into the middle of a buffer.
inline void put16(char* p, uint16_t v)
{
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}

inline void put32(char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
