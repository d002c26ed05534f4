#include "web/Coding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace lanshu;

namespace {

const std::string kJianFei = "\xBC\xF5\xB7\xCA";                    // 减肥 in GBK
const std::string kJianFeiUtf8 = "\xE5\x87\x8F\xE8\x82\xA5";       // the same in UTF-8
const std::string kJianFeiUtf16 = "\xCF\x51\xA5\x80";

}  // namespace

TEST(UrlEncode, EscapesAllButLettersAndDigits) {
  EXPECT_EQ(UrlEncodeGbk("a b"), "a%20b");
  EXPECT_EQ(UrlEncodeGbk("a-b.c_d~"), "a%2Db%2Ec%5Fd%7E");
  EXPECT_EQ(UrlEncodeGbk("Az09"), "Az09");
  EXPECT_EQ(UrlEncodeGbk(kJianFei), "%BC%F5%B7%CA");
  EXPECT_EQ(UrlEncodeUtf8(kJianFei), "%E5%87%8F%E8%82%A5");
  EXPECT_EQ(UrlEncodeGbk("\r\n\t"), "%D%A%9");  // below 0x10: one digit
  EXPECT_EQ(UrlEncodeUtf8(""), "");
  EXPECT_EQ(UrlEncodeGbk(""), "");
}

TEST(FormEncode, KeepsQueryPunctuationAndWritesFullLineBreaks) {
  EXPECT_EQ(FormEncodeUtf8("k=v&x=y"), "k=v&x=y");
  EXPECT_EQ(FormEncodeGbk("a\r\nb"), "a%0D%0Ab");
  EXPECT_EQ(FormEncodeGbk("a-b_c d.e"), "a-b_c%20d%2Ee");
  EXPECT_EQ(FormEncodeUtf8("q=" + kJianFei + " 1"), "q=%E5%87%8F%E8%82%A5%201");
  EXPECT_EQ(FormEncodeGbk(""), "");
}

TEST(UrlDecode, DecodesEitherCaseOfHexDigits) {
  EXPECT_EQ(UrlDecodeGbk("%bc%f5%B7%CA"), kJianFei);
  EXPECT_EQ(UrlDecodeUtf8("%E5%87%8F%E8%82%A5"), kJianFei);
  EXPECT_EQ(UrlDecodeUtf8("%e5%87%8f" + kJianFeiUtf8.substr(3)), kJianFei);
  EXPECT_EQ(UrlDecodeGbk("a+b%20c"), "a+b c");  // "+" is plain here
  EXPECT_EQ(UrlDecodeUtf8("%F0%9F%98%80"), "??");  // not in code page 936
  EXPECT_EQ(UrlDecodeGbk(""), "");
}

TEST(UrlDecode, KeepsMalformedSequencesAndDropsZeroBytes) {
  EXPECT_EQ(UrlDecodeGbk("a%00b"), "ab");
  EXPECT_EQ(UrlDecodeUtf8("a%00b"), "ab");
  EXPECT_EQ(UrlDecodeGbk("100%"), "100%");
  EXPECT_EQ(UrlDecodeGbk("%4"), "%4");
  EXPECT_EQ(UrlDecodeGbk("%zz%G1%1g"), "%zz%G1%1g");
  EXPECT_EQ(UrlDecodeGbk("%%41"), "%A");
  EXPECT_EQ(UrlDecodeGbk("%D%A"), "%D%A");
  EXPECT_EQ(FormDecodeGbk("50%+off%"), "50% off%");
}

TEST(FormDecode, PlusLineBreaksAndEscapedPlus) {
  EXPECT_EQ(FormDecodeGbk("a+b%2Bc"), "a b+c");
  EXPECT_EQ(FormDecodeGbk("x%D%Ay%0D%0Az"), "x\r\ny\r\nz");
  EXPECT_EQ(FormDecodeGbk("%d%a"), "%d%a");  // only the encoders' upper-case form is a line break
  EXPECT_EQ(FormDecodeUtf8("q=%E5%87%8F%E8%82%A5+1"), "q=" + kJianFei + " 1");
  EXPECT_EQ(FormDecodeUtf8(""), "");
}

TEST(FormCoding, RoundTrips) {
  const std::vector<std::string> texts = {"k=v&x=y", "a b+c%d", "line1\r\nline2", "-_.~!*'()",
                                          kJianFei + " & " + kJianFei, "\xFF\x80"};
  for (const std::string& text : texts) {
    EXPECT_EQ(FormDecodeGbk(FormEncodeGbk(text)), text) << text;
    // Only form decoding reads the encoders' "%D%A" as a line break.
    if (text.find('\r') == std::string::npos) {
      EXPECT_EQ(UrlDecodeGbk(UrlEncodeGbk(text)), text) << text;
    }
  }
  EXPECT_EQ(UrlDecodeGbk(UrlEncodeGbk("a\r\n")), "a%D%A");
  EXPECT_EQ(FormDecodeUtf8(FormEncodeUtf8(kJianFei + "\r\n=")), kJianFei + "\r\n=");
  EXPECT_EQ(UrlDecodeUtf8(UrlEncodeUtf8("\x80 euro")), "\x80 euro");
}

TEST(Charset, EncodesWithTheStreamsByteOrderMarks) {
  EXPECT_EQ(TextToCharset(kJianFei, "utf-8"), "\xEF\xBB\xBF" + kJianFeiUtf8);
  EXPECT_EQ(TextToCharset(kJianFei, "UTF-8", 3), kJianFeiUtf8);
  EXPECT_EQ(TextToCharset(kJianFei, "unicode"), "\xFF\xFE" + kJianFeiUtf16);
  EXPECT_EQ(TextToCharset(kJianFei, "Unicode", 2), kJianFeiUtf16);
  EXPECT_EQ(TextToCharset("A", "unicodeFFFE"), std::string("\xFE\xFF\x00\x41", 4));
  EXPECT_EQ(TextToCharset("", "utf-8"), "\xEF\xBB\xBF");
  EXPECT_EQ(TextToCharset("abc", "utf-8", 4), "bc");
  EXPECT_EQ(TextToCharset("abc", "utf-8", 6), "");  // skip beyond the end
  EXPECT_EQ(TextToCharset("abc", "gbk", 1), "bc");
}

TEST(Charset, EncodesInEachNamedSet) {
  EXPECT_EQ(TextToCharset(kJianFei, "gbk"), kJianFei);
  EXPECT_EQ(TextToCharset(kJianFei, "GB2312"), kJianFei);
  EXPECT_EQ(TextToCharset("\xA3\xA4", "gb2312"), "\xA3\xA4");                    // Windows table
  EXPECT_EQ(TextToCharset("\xD6\xD0\xCE\xC4", "big5"), "\xA4\xA4\xA4\xE5");      // 中文
  EXPECT_EQ(TextToCharset("a" + kJianFei, "big5"), "a?\xAA\xCE");               // 减 is simplified only
  EXPECT_EQ(TextToCharset("ab" + kJianFei, "ascii"), "ab??");
  EXPECT_EQ(TextToCharset("\xA1\xC1", "iso-8859-1"), "\xD7");                   // ×
  EXPECT_EQ(TextToCharset("\xD6\xD0", "gb18030"), "\xD6\xD0");                  // any ICU name
  EXPECT_EQ(TextToCharset("abc", "no-such-charset"), "");
  EXPECT_EQ(TextToCharset("abc", ""), "");
}

TEST(Charset, DecodesAndConsumesAByteOrderMark) {
  EXPECT_EQ(CharsetToText("\xEF\xBB\xBF" + kJianFeiUtf8, "utf-8"), kJianFei);
  EXPECT_EQ(CharsetToText(kJianFeiUtf8, "utf-8"), kJianFei);
  EXPECT_EQ(CharsetToText("\xFF\xFE" + kJianFeiUtf16, "unicode"), kJianFei);
  EXPECT_EQ(CharsetToText(kJianFeiUtf16, "UNICODE"), kJianFei);
  EXPECT_EQ(CharsetToText("\xEF\xBB\xBF" "a", "gbk"), "\xEF\xBB\xBF" "a");  // no mark in code page 936
  EXPECT_EQ(CharsetToText("\xA4\xA4\xA4\xE5", "Big5"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(CharsetToText("\xD7\xE9", "iso-8859-1"), "\xA1\xC1" "\xA8\xA6");   // × é
  EXPECT_EQ(CharsetToText("ab\x80", "ascii"), "ab?");
  EXPECT_EQ(CharsetToText("abc", "no-such-charset"), "");
}

TEST(Charset, ConvertsBetweenSets) {
  const std::string utf8 = "\xEF\xBB\xBF" + kJianFeiUtf8;
  EXPECT_EQ(ConvertCharset(utf8, "utf-8", "unicode", 2), kJianFeiUtf16);
  EXPECT_EQ(ConvertCharset(utf8, "utf-8", "unicode"), "\xFF\xFE" + kJianFeiUtf16);
  EXPECT_EQ(ConvertCharset(kJianFei, "gbk", "utf-8", 3), kJianFeiUtf8);
  EXPECT_EQ(ConvertCharset("\xA4\xA4", "big5", "gb2312"), "\xD6\xD0");
  EXPECT_EQ(ConvertCharset("abc", "nothing", "utf-8"), "");
  EXPECT_EQ(ConvertCharset("abc", "utf-8", "nothing"), "");
}

TEST(Charset, ReadsAFileInAGivenSet) {
  const std::string path = ::testing::TempDir() + "coding_test_\xD6\xD0.txt";  // a GBK file name
  const std::string onDisk = ::testing::TempDir() + "coding_test_\xE4\xB8\xAD.txt";
  {
    std::ofstream out(onDisk, std::ios::binary);
    out << "\xEF\xBB\xBF" << kJianFeiUtf8 << "\r\nx";
  }
  EXPECT_EQ(ReadTextFileAs(path, "utf-8"), kJianFei + "\r\nx");
  EXPECT_EQ(ReadTextFileAs(path, "no-such-charset"), "");
  std::remove(onDisk.c_str());
  EXPECT_EQ(ReadTextFileAs(path, "utf-8"), "");
}

TEST(OpenInExplorer, UsesTheInstalledOpener) {
  SetUrlOpener(nullptr);
  EXPECT_FALSE(OpenInExplorer("http://example.invalid/"));

  std::vector<std::string> opened;
  SetUrlOpener([&opened](const std::string& address) {
    opened.push_back(address);
    return address.rfind("http", 0) == 0;
  });
  EXPECT_TRUE(OpenInExplorer("http://example.invalid/?q=" + kJianFei));
  EXPECT_FALSE(OpenInExplorer("nowhere"));
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], "http://example.invalid/?q=" + kJianFei);
  SetUrlOpener(nullptr);
  EXPECT_FALSE(OpenInExplorer("http://example.invalid/"));
  EXPECT_EQ(opened.size(), 2u);
}

namespace lanshu {
namespace {

TEST(AddressWithScheme, AddsHttpWhereNoSchemeIsNamed) {
  EXPECT_EQ(AddressWithScheme("example.com/user.php"), "http://example.com/user.php");
  EXPECT_EQ(AddressWithScheme("  localhost:8080/x \t"), "http://localhost:8080/x");
  EXPECT_EQ(AddressWithScheme("127.0.0.1"), "http://127.0.0.1");
  EXPECT_EQ(AddressWithScheme("https://a.test/p?q=1"), "https://a.test/p?q=1");
  EXPECT_EQ(AddressWithScheme("HTTP://A.test"), "HTTP://A.test");
  EXPECT_EQ(AddressWithScheme("about:blank"), "about:blank");
  EXPECT_EQ(AddressWithScheme("a.test/next?u=http://b.test"), "http://a.test/next?u=http://b.test");
  EXPECT_EQ(AddressWithScheme("   "), "");
}

}  // namespace
}  // namespace lanshu
