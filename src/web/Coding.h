#pragma once
// URL and character-set coding of request values and pages.
//
// Texts are GBK (code page 936) byte strings; "bytes" are raw byte strings.
// The plain conversions between GBK, UTF-8 and UTF-16LE (GbkToUtf8,
// Utf8ToGbk, GbkToUnicode, UnicodeToGbk, UnicodeToUtf8, Utf8ToUnicode) are
// those of text/Codec.h, included here for the callers of this header.
#include <functional>
#include <string>

#include "text/Codec.h"

namespace lanshu {

// An address as typed into the login browser's address field: blanks
// trimmed, and "http://" put in front when it names no scheme
// ("example.com/x", "localhost:8080"); "about:blank" and addresses with
// "scheme://" stay as typed.
std::string AddressWithScheme(const std::string& typed);

// Percent-encoding: ASCII letters and digits stay, every other byte becomes
// "%" and its value in upper-case hexadecimal without a leading zero (a line
// feed is "%A", CRLF is "%D%A").
std::string UrlEncodeUtf8(const std::string& text);  // of the text's UTF-8 bytes
std::string UrlEncodeGbk(const std::string& text);   // of the text's own bytes

// Percent-decoding: "%" and two hexadecimal digits (either case) give one
// byte, except "%00", which gives none; any other "%" stays as written.
std::string UrlDecodeUtf8(const std::string& text);  // decoded bytes read as UTF-8
std::string UrlDecodeGbk(const std::string& text);   // decoded bytes taken as GBK

// Form encoding: percent-encoding, then "%3D" -> "=", "%26" -> "&",
// "%D%A" -> "%0D%0A", "%2D" -> "-", "%5F" -> "_", so that a whole query of
// name-value pairs can be encoded in one call.
std::string FormEncodeUtf8(const std::string& text);
std::string FormEncodeGbk(const std::string& text);

// Form decoding: "%D%A" becomes CRLF, "+" a space, then percent-decoding.
std::string FormDecodeUtf8(const std::string& text);
std::string FormDecodeGbk(const std::string& text);

// Character sets by the names of the stream object the program used:
// "utf-8", "unicode" (UTF-16LE), "unicodeFFFE" (UTF-16BE), "gb2312" and
// "gbk" (code page 936), "big5", "ascii", "iso-8859-1", and any other
// name the ICU converters know; names are compared without regard to case.
// An unknown name gives the empty result.
//
// Encoding writes a byte-order mark first for "utf-8" (EF BB BF) and the
// UTF-16 sets (FF FE, FE FF), as that object did; skip >= 0 leaves out that
// many leading bytes (3 drops the UTF-8 mark, 2 the UTF-16 one), and a skip
// beyond the end gives empty bytes. A negative skip means "not given".
// Decoding consumes such a mark at the start.
std::string TextToCharset(const std::string& text, const std::string& charset, int skip = -1);
std::string CharsetToText(const std::string& bytes, const std::string& charset);
// Decodes from one set to a GBK text and encodes that text in the other.
std::string ConvertCharset(const std::string& bytes, const std::string& fromCharset,
                           const std::string& toCharset, int skip = -1);
// The file's content decoded from charset; the empty text when the file
// cannot be read. The path is a GBK text.
std::string ReadTextFileAs(const std::string& path, const std::string& charset);

// Opens an address in the system shell through the opener the application
// installs (the window layer installs one that opens the default browser).
// Without an opener, or when it reports failure, the result is false.
void SetUrlOpener(std::function<bool(const std::string& addressGbk)> opener);
bool OpenInExplorer(const std::string& address);

}  // namespace lanshu
