// input.h - small pure helpers for what the driver reads from its command
// line and from standard input.
#ifndef DRIVER_INPUT_H
#define DRIVER_INPUT_H

#include <climits>
#include <cstdlib>
#include <cstring>

namespace credcheck {

// A decimal integer read the way atoi() reads it (leading white space, an
// optional sign, the digits that follow; 0 without digits), except that a
// value out of range is clamped to the int range instead of being undefined.
inline int ParseNumber(const char *text) {
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Remove the newline that ends what fgets() read, if there is one; a last
// line without a newline keeps all of its characters.  Returns the length.
inline std::size_t TrimNewline(char *line) {
    std::size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\n') line[--length] = '\0';
    return length;
}

}  // namespace credcheck

#endif  // DRIVER_INPUT_H
