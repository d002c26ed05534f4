// The URL and form decoders on arbitrary bytes: no zero byte in a text, input
// without "%" unchanged by percent-decoding, and encoding followed by decoding
// gives the text back (for texts without bytes below 0x10, whose one-digit
// escapes such as "%A" the encoders write without a leading zero).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/Coding.h"

using namespace lanshu;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string text = input.substr(0, input.find('\0'));

  const std::string gbk = UrlDecodeGbk(input);
  const std::string utf8 = UrlDecodeUtf8(input);
  const std::string formGbk = FormDecodeGbk(input);
  const std::string formUtf8 = FormDecodeUtf8(input);
  for (const std::string* out : {&gbk, &utf8, &formGbk, &formUtf8}) {
    if (out->find('\0') != std::string::npos) abort();
  }
  if (gbk.size() > text.size()) abort();
  if (text.find('%') == std::string::npos && gbk != text) abort();

  std::string plain;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x10) plain += c;
  }
  if (UrlDecodeGbk(UrlEncodeGbk(plain)) != plain) abort();
  if (FormDecodeGbk(FormEncodeGbk(plain)) != plain) abort();
  const std::string normalized = Utf8ToGbk(GbkToUtf8Text(plain));
  if (UrlDecodeUtf8(UrlEncodeUtf8(plain)) != normalized) abort();
  if (FormDecodeUtf8(FormEncodeUtf8(plain)) != normalized) abort();
  return 0;
}
