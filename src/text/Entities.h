#pragma once
// HTML character references in cells cut out of collected pages, and the list
// replacement that decodes the named ones.
#include <string>

namespace lanshu {

// Replaces, for each item k of findList in turn, the occurrences of find item k
// by replacement item k, in one left-to-right pass per item: what an item
// inserts is not searched again by that item, but later items see it. Items
// are joined by separator (empty means "|"); inner empty items stay, one empty
// item at the very end is dropped; replacement items are cut or padded with
// empty items to the number of find items. With fillEmpty an empty replacement
// item takes replacement item 1. count below 1 means all occurrences, else at
// most count per item. Without caseSensitive ASCII letters match regardless of
// case. Matches start only on character starts (double-byte characters are
// stepped over as units); an empty find item changes nothing.
// text receives the result, and a copy is returned.
std::string ReplaceList(std::string& text, const std::string& findList,
                        const std::string& replaceList = std::string(), bool caseSensitive = false,
                        bool fillEmpty = false, const std::string& separator = std::string(),
                        int count = 0);

// Decodes the 40 named references of the entity table (case ignored, "&amp;"
// last, so "&amp;lt;" gives "&lt;"), then, unless skipNumeric, the numeric
// references "&#" decimal digits ";" and "&#x" (or "&#X") hexadecimal digits
// ";". Code point 0 gives nothing; a code point code page 936 lacks gives "?"
// per UTF-16 unit; a "&#" that does not start such a reference, or whose value
// lies beyond U+10FFFF, stays as written. The result ends at its first zero
// byte.
// text receives the result of the named step; the decoded text is returned.
std::string DecodeEntities(std::string& text, bool skipNumeric = false);
// The same for a text the caller does not keep (a temporary or a constant).
std::string DecodeEntities(const std::string& text, bool skipNumeric = false);

// The entity table as the two "|"-joined lists that DecodeEntities' named step
// is equivalent to passing to ReplaceList.
const std::string& EntityNameList();
const std::string& EntityReplacementList();

}  // namespace lanshu
