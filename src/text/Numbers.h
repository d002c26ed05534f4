#pragma once
// Numbers typed by users into edit boxes, or read from list cells (GBK).
#include <string>

namespace lanshu {

// Full-width ASCII forms (GBK A3 A1..A3 FE) and the ideographic space (A1 A1)
// become their half-width ASCII characters; everything else is kept.
std::string FullWidthToHalfWidth(const std::string& text);

// The leading decimal integer of the text after full-width forms are made
// half-width: leading blanks and a sign allowed, reading stops at the first
// non-digit (2.9 gives 2, a non-number gives 0). Saturates at the int range.
int ToInteger(const std::string& text);

// The leading decimal number (sign, digits, fraction, exponent) of the text
// after full-width forms are made half-width; 0 when there is none.
double ToNumber(const std::string& text);

// ToNumber that also reads thousands separators in the integer part: a first
// run of one to three digits may be followed by groups of "," and exactly three
// digits, so "3,404,667" gives 3404667. A comma that does not start such a
// group ends the number as in ToNumber ("1,23" gives 1).
double ToGroupedNumber(const std::string& text);

// A pause typed in seconds ("0.1", "1.5", full-width forms count) as whole
// milliseconds, rounded to the nearest; 0 for a text that is no positive number,
// at most the int range.
int SecondsToMilliseconds(const std::string& text);

}  // namespace lanshu
