#include "web/Coding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <filesystem>
#endif

#include "text/Entities.h"

namespace lanshu {
namespace {

const char kHexDigits[] = "0123456789ABCDEF";

std::string UpToZero(const std::string& text) { return text.substr(0, text.find('\0')); }

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string PercentEncode(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsAsciiAlnum(c)) {
      out += ch;
      continue;
    }
    out += '%';
    if (c >= 0x10) out += kHexDigits[c >> 4];
    out += kHexDigits[c & 0x0F];
  }
  return out;
}

int HexDigitValue(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
  const char* at = std::strchr(kHexDigits, c);
  return (c != '\0' && at != nullptr) ? static_cast<int>(at - kHexDigits) : -1;
}

// A "%" without two hexadecimal digits after it is kept as written; "%00"
// yields nothing, since a text cannot hold a zero byte.
std::string PercentDecode(const std::string& text) {
  const std::string in = UpToZero(text);
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size()) {
      const int high = HexDigitValue(in[i + 1]);
      const int low = HexDigitValue(in[i + 2]);
      if (high >= 0 && low >= 0) {
        const int byte = high * 16 + low;
        if (byte != 0) out += static_cast<char>(byte);
        i += 2;
        continue;
      }
    }
    out += in[i];
  }
  return out;
}

std::string FormFixUp(std::string encoded) {
  ReplaceList(encoded, "%3D|%26|%D%A|%2D|%5F", "=|&|%0D%0A|-|_", true);
  return encoded;
}

std::string FormUnescape(std::string text) {
  ReplaceList(text, "%D%A|+", "\r\n| ", true);
  return text;
}

// ---------------------------------------------------------------------------
// Character sets.

struct Charset {
  enum class Kind { Unknown, Gbk, Utf8, Utf16Le, Icu };
  Kind kind = Kind::Unknown;
  std::string icuName;  // for Kind::Icu
  std::string bom;      // written when encoding, consumed when decoding
};

const char kUtf8Bom[] = "\xEF\xBB\xBF";
const char kUtf16LeBom[] = "\xFF\xFE";
const char kUtf16BeBom[] = "\xFE\xFF";

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return s;
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// Bytes a converter cannot read become "?", as the code page 936 decoder does.
void QuestionMarkToU(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                     UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;
  static const UChar kQuestion = u'?';
  *err = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &kQuestion, 1, 0, err);
}

Converter OpenIcu(const std::string& name) {
  UErrorCode err = U_ZERO_ERROR;
  Converter conv(ucnv_open(name.c_str(), &err));
  if (U_FAILURE(err)) return nullptr;
  ucnv_setFallback(conv.get(), true);  // best-fit mappings, as the system's tables have them
  ucnv_setToUCallBack(conv.get(), QuestionMarkToU, nullptr, nullptr, nullptr, &err);
  // Characters the set lacks become "?" (in the set's own encoding).
  ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
  ucnv_setSubstString(conv.get(), u"?", 1, &err);
  if (U_FAILURE(err)) return nullptr;
  return conv;
}

Charset Resolve(const std::string& name) {
  using Kind = Charset::Kind;
  const std::string lower = LowerAscii(name);
  if (lower == "gbk" || lower == "gb2312" || lower == "cp936" || lower == "windows-936" ||
      lower == "x-gbk" || lower == "csgb2312" || lower == "gb_2312-80" || lower == "chinese") {
    return {Kind::Gbk, "", ""};
  }
  if (lower == "utf-8" || lower == "unicode-1-1-utf-8" || lower == "unicode-2-0-utf-8" ||
      lower == "x-unicode20utf8") {
    return {Kind::Utf8, "", kUtf8Bom};
  }
  if (lower == "unicode" || lower == "utf-16") return {Kind::Utf16Le, "", kUtf16LeBom};
  if (lower == "unicodefffe") return {Kind::Icu, "UTF-16BE", kUtf16BeBom};
  if (lower == "big5" || lower == "cp950" || lower == "x-x-big5") return {Kind::Icu, "windows-950-2000", ""};
  if (lower == "ascii" || lower == "us-ascii") return {Kind::Icu, "US-ASCII", ""};
  if (lower == "iso-8859-1" || lower == "latin1") return {Kind::Icu, "ISO-8859-1", ""};
  if (name.empty() || name.find('\0') != std::string::npos) return {};
  // Any other name ICU knows; those that are code page 936 or UTF-8 after all
  // take the same road as the names above.
  Converter conv = OpenIcu(name);
  if (!conv) return {};
  UErrorCode err = U_ZERO_ERROR;
  const std::string canonical = ucnv_getName(conv.get(), &err);
  if (U_FAILURE(err)) return {};
  if (canonical == "windows-936-2000") return {Kind::Gbk, "", ""};
  if (canonical == "UTF-8") return {Kind::Utf8, "", kUtf8Bom};
  return {Kind::Icu, canonical, ""};
}

std::u16string IcuDecode(const std::string& icuName, const std::string& bytes) {
  Converter conv = OpenIcu(icuName);
  if (!conv || bytes.empty()) return std::u16string();
  UErrorCode err = U_ZERO_ERROR;
  const int32_t need = ucnv_toUChars(conv.get(), nullptr, 0, bytes.data(), static_cast<int32_t>(bytes.size()), &err);
  if (err != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(err)) return std::u16string();
  std::u16string out(static_cast<std::size_t>(need), u'\0');
  err = U_ZERO_ERROR;
  ucnv_resetToUnicode(conv.get());
  ucnv_toUChars(conv.get(), reinterpret_cast<UChar*>(out.data()), need, bytes.data(),
                static_cast<int32_t>(bytes.size()), &err);
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return std::u16string();
  return out;
}

std::string IcuEncode(const std::string& icuName, const std::u16string& units) {
  Converter conv = OpenIcu(icuName);
  if (!conv || units.empty()) return std::string();
  const UChar* src = reinterpret_cast<const UChar*>(units.data());
  UErrorCode err = U_ZERO_ERROR;
  const int32_t need = ucnv_fromUChars(conv.get(), nullptr, 0, src, static_cast<int32_t>(units.size()), &err);
  if (err != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(err)) return std::string();
  std::string out(static_cast<std::size_t>(need), '\0');
  err = U_ZERO_ERROR;
  ucnv_resetFromUnicode(conv.get());
  ucnv_fromUChars(conv.get(), out.data(), need, src, static_cast<int32_t>(units.size()), &err);
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return std::string();
  return out;
}

std::string Encode(const Charset& cs, const std::string& text) {
  switch (cs.kind) {
    case Charset::Kind::Gbk:
      return U16ToGbk(GbkToU16(text));
    case Charset::Kind::Utf8:
      return GbkToUtf8Text(text);
    case Charset::Kind::Utf16Le: {
      std::string units = GbkToUnicode(text);
      units.resize(units.size() - 2);  // the terminating zero unit
      return units;
    }
    case Charset::Kind::Icu:
      return IcuEncode(cs.icuName, GbkToU16(text));
    case Charset::Kind::Unknown:
      break;
  }
  return std::string();
}

std::string Decode(const Charset& cs, const std::string& bytes) {
  switch (cs.kind) {
    case Charset::Kind::Gbk:
      return U16ToGbk(GbkToU16(bytes));
    case Charset::Kind::Utf8:
      return Utf8ToGbk(bytes);
    case Charset::Kind::Utf16Le:
      return UnicodeToGbk(bytes);
    case Charset::Kind::Icu:
      return U16ToGbk(IcuDecode(cs.icuName, bytes));
    case Charset::Kind::Unknown:
      break;
  }
  return std::string();
}

std::string EncodeWithMark(const Charset& cs, const std::string& text, int skip) {
  std::string bytes = cs.bom + Encode(cs, text);
  if (skip < 0) return bytes;
  if (static_cast<std::size_t>(skip) >= bytes.size()) return std::string();
  return bytes.substr(static_cast<std::size_t>(skip));
}

std::string DecodeWithMark(const Charset& cs, const std::string& bytes) {
  if (!cs.bom.empty() && bytes.compare(0, cs.bom.size(), cs.bom) == 0) {
    return Decode(cs, bytes.substr(cs.bom.size()));
  }
  return Decode(cs, bytes);
}

struct Opener {
  std::mutex mutex;
  std::function<bool(const std::string&)> fn;
};

Opener& TheOpener() {
  static Opener opener;
  return opener;
}

}  // namespace

std::string UrlEncodeUtf8(const std::string& text) { return PercentEncode(GbkToUtf8Text(text)); }

std::string UrlEncodeGbk(const std::string& text) { return PercentEncode(UpToZero(text)); }

std::string UrlDecodeUtf8(const std::string& text) { return Utf8ToGbk(PercentDecode(text)); }

std::string UrlDecodeGbk(const std::string& text) { return PercentDecode(text); }

std::string FormEncodeUtf8(const std::string& text) { return FormFixUp(UrlEncodeUtf8(text)); }

std::string FormEncodeGbk(const std::string& text) { return FormFixUp(UrlEncodeGbk(text)); }

std::string FormDecodeUtf8(const std::string& text) { return UrlDecodeUtf8(FormUnescape(UpToZero(text))); }

std::string FormDecodeGbk(const std::string& text) { return UrlDecodeGbk(FormUnescape(UpToZero(text))); }

std::string TextToCharset(const std::string& text, const std::string& charset, int skip) {
  const Charset cs = Resolve(charset);
  if (cs.kind == Charset::Kind::Unknown) return std::string();
  return EncodeWithMark(cs, text, skip);
}

std::string CharsetToText(const std::string& bytes, const std::string& charset) {
  return DecodeWithMark(Resolve(charset), bytes);
}

std::string ConvertCharset(const std::string& bytes, const std::string& fromCharset,
                           const std::string& toCharset, int skip) {
  const Charset from = Resolve(fromCharset);
  const Charset to = Resolve(toCharset);
  if (from.kind == Charset::Kind::Unknown || to.kind == Charset::Kind::Unknown) return std::string();
  return EncodeWithMark(to, DecodeWithMark(from, bytes), skip);
}

std::string ReadTextFileAs(const std::string& path, const std::string& charset) {
  const Charset cs = Resolve(charset);
  if (cs.kind == Charset::Kind::Unknown || path.empty()) return std::string();
#ifdef _WIN32
  const std::u16string wide = GbkToU16(path);
  std::ifstream in(std::filesystem::path(std::wstring(wide.begin(), wide.end())), std::ios::binary);
#else
  std::ifstream in(GbkToUtf8Text(path), std::ios::binary);
#endif
  if (!in) return std::string();
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return DecodeWithMark(cs, bytes);
}

void SetUrlOpener(std::function<bool(const std::string& addressGbk)> opener) {
  Opener& o = TheOpener();
  std::lock_guard<std::mutex> lock(o.mutex);
  o.fn = std::move(opener);
}

bool OpenInExplorer(const std::string& address) {
  std::function<bool(const std::string&)> fn;
  {
    Opener& o = TheOpener();
    std::lock_guard<std::mutex> lock(o.mutex);
    fn = o.fn;
  }
  return fn ? fn(address) : false;
}

std::string AddressWithScheme(const std::string& typed) {
  const std::size_t first = typed.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const std::string address = typed.substr(first, typed.find_last_not_of(" \t\r\n") - first + 1);
  // A scheme is letters, digits, "+", "-" or "." from a letter on, then "://";
  // "about:" and "data:" pages have no slashes.
  std::size_t i = 0;
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  while (i < address.size() && (letter(address[i]) || (i > 0 && ((address[i] >= '0' && address[i] <= '9') ||
                                                              address[i] == '+' || address[i] == '-' || address[i] == '.'))))
    ++i;
  if (i > 0 && address.compare(i, 3, "://") == 0) return address;
  const std::string lower = GbkToLowerAscii(address.substr(0, 6));
  if (lower.rfind("about:", 0) == 0 || lower.rfind("data:", 0) == 0) return address;
  return "http://" + address;
}

}  // namespace lanshu
