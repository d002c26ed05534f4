#include "demo/DemoContent.h"

#include "text/Codec.h"

#include <algorithm>
#include <cstdint>

namespace lanshu::demo {

namespace {

// FNV-1a: the same rows on every platform and every run.
std::uint32_t Fnv(const std::string& s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

std::uint32_t Mix(const std::string& key, const char* what, int i) {
  return Fnv(key + '\x1f' + what + '\x1f' + std::to_string(i));
}

std::vector<std::string> GbkList(std::initializer_list<const char*> items) {
  std::vector<std::string> out;
  for (const char* item : items) out.push_back(Gbk(item));
  return out;
}

// Keywords of a ranking listing are a modifier and a stem: 400 distinct pairs.
const std::vector<std::string>& Modifiers() {
  static const std::vector<std::string> list = GbkList(
      {"北京", "上海", "专业", "免费", "最新", "优质", "便宜", "正规", "附近", "在线",
       "高端", "家用", "二手", "品牌", "进口", "定制", "小型", "全自动", "儿童", "女士"});
  return list;
}

const std::vector<std::string>& Stems() {
  static const std::vector<std::string> list = GbkList(
      {"网站建设", "装修公司", "英语培训", "减肥方法", "汽车租赁", "旅游攻略", "手机维修",
       "婚纱摄影", "搬家公司", "驾校报名", "会计培训", "空调清洗", "租房信息", "宠物医院",
       "月嫂服务", "法律咨询", "留学中介", "健身房", "鲜花速递", "牙科医院"});
  return list;
}

// Related keywords of a seed are the seed and one of these.
const std::vector<std::string>& Suffixes() {
  static const std::vector<std::string> list = GbkList(
      {"方法", "技巧", "价格", "多少钱", "哪家好", "排行榜", "怎么样", "视频", "图片", "大全",
       "教程", "推荐", "官网", "攻略", "效果", "注意事项"});
  return list;
}

constexpr int kPairCount = 400;

struct RankEntry {
  int index = 0;  // position in the domain's canonical list; fixes title, link and target
  std::string keyword;
  std::string hint;
  int rank = 0;
  std::uint32_t volume = 0;
  std::uint32_t indexed = 0;
  std::uint32_t visits = 0;
};

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The listing of a domain in the order the sort word gives, with the
// deliberate duplicates applied.
std::vector<RankEntry> RankListing(const std::string& domain, const std::string& sortWord,
                                   const Options& options) {
  const int rows = std::max(0, options.rankRowsPerPage);
  const int n = RankPageCount(options, domain) * rows;
  const int offset = static_cast<int>(Fnv(domain) % kPairCount);
  std::vector<RankEntry> entries(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    RankEntry& e = entries[static_cast<std::size_t>(i)];
    const int pair = (7 * i + offset) % kPairCount;  // 7 is prime to 400: no repeats
    const std::string& modifier = Modifiers()[static_cast<std::size_t>(pair / 20)];
    const std::string& stem = Stems()[static_cast<std::size_t>(pair % 20)];
    e.index = i;
    e.keyword = modifier + stem + (i >= kPairCount ? std::to_string(i / kPairCount + 1) : "");
    e.hint = modifier + "," + stem;
    e.rank = 1 + static_cast<int>(Mix(domain, "rank", i) % 100);
    e.volume = Mix(domain, "volume", i) % 40000;
    e.indexed = Mix(domain, "indexed", i) % 5000000;
    e.visits = Mix(domain, "visits", i) % 10000;
  }
  const std::string sort = LowerAscii(sortWord);
  std::stable_sort(entries.begin(), entries.end(), [&sort](const RankEntry& a, const RankEntry& b) {
    if (sort == "ip") return a.visits > b.visits;
    if (sort == "zhishu") return a.volume > b.volume;
    return a.rank < b.rank;
  });
  if (options.rankDuplicates && n > 0) {
    entries[0].keyword = Gbk("网站排名查询");  // the same for every domain
    entries[0].hint = Gbk("网站,排名,查询");
    if (rows >= 2 && n > rows) {  // page 2 opens with page 1's second keyword
      entries[static_cast<std::size_t>(rows)].keyword = entries[1].keyword;
      entries[static_cast<std::size_t>(rows)].hint = entries[1].hint;
    }
  }
  return entries;
}

std::string Grouped(std::uint32_t value, const std::string& separator) {
  std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

// A figure as written in a cell and as shown.
void Figure(std::uint32_t value, int form, std::string& markup, std::string& shown) {
  const std::string digits = std::to_string(value);
  switch (form) {
    case 1:
      markup = "&nbsp;" + digits + "&nbsp;";
      shown = digits;
      break;
    case 2:
      markup = Grouped(value, "&#44;");
      shown = Grouped(value, ",");
      break;
    case 3:
      markup = Grouped(value, ",");
      shown = markup;
      break;
    default:
      markup = digits;
      shown = digits;
  }
}

// Attribute written with double quotes, single quotes or none.
std::string Attr(const std::string& name, const std::string& value, int quoting) {
  if (quoting == 1) return name + "='" + value + "'";
  if (quoting == 2 && value.find(' ') == std::string::npos) return name + "=" + value;
  return name + "=\"" + value + "\"";
}

const char kBase64Url[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const char kTokenKey[] = "lanshu-demo";

std::string Scramble(std::string bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= kTokenKey[i % (sizeof kTokenKey - 1)];
  return bytes;
}

std::string Base64Url(const std::string& bytes) {
  std::string out;
  std::uint32_t acc = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    acc = (acc << 8) | c;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += kBase64Url[(acc >> bits) & 63];
    }
  }
  if (bits > 0) out += kBase64Url[(acc << (6 - bits)) & 63];
  return out;
}

bool FromBase64Url(const std::string& text, std::string& bytes) {
  bytes.clear();
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    const char* p = std::find(kBase64Url, kBase64Url + 64, c);
    if (p == kBase64Url + 64) return false;
    acc = (acc << 6) | static_cast<std::uint32_t>(p - kBase64Url);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return true;
}

std::string Token(const std::string& domain, int index) {
  return Base64Url(Scramble(domain + '\n' + std::to_string(index)));
}

// Host part of a redirect target: bytes that could break the header line or
// the address are percent-encoded.
std::string HostOf(const std::string& domain) {
  if (domain.empty()) return "example.invalid";
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : domain) {
    if (c <= 0x20 || c >= 0x7F || std::string("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string::npos) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string TargetOf(const std::string& domain, int index) {
  const std::string path = "/article/" + std::to_string(index) + ".html";
  if (index % 13 == 12) return "";  // answered 200 without Location
  if (index % 7 == 5) return path;   // a relative Location
  return "http://" + HostOf(domain) + path;
}

std::string RankText(int rank, int index) {
  if (index % 5 == 4) return std::to_string(rank);
  return Gbk("第") + std::to_string((rank - 1) / 10 + 1) + Gbk("页第") +
         std::to_string((rank - 1) % 10 + 1) + Gbk("位");
}

std::string RankTitle(const RankEntry& e, const std::string& domain) {
  const std::string site = domain.empty() ? Gbk("示例站") : HtmlEscape(domain);
  switch (e.index % 4) {
    case 1:
      return e.keyword + "," + Gbk("优惠推荐 - ") + site;
    case 2:
      return e.keyword + Gbk(" &amp; 相关资讯 - ") + site;
    case 3:
      return Gbk("【") + e.keyword + Gbk("】") + site + Gbk("官网");
    default:
      return e.keyword + "_" + site;
  }
}

// Builds one result row of a ranking page; k is the row's place in the listing.
RankRow MakeRankRow(const std::string& baseUrl, const std::string& domain, const RankEntry& e,
                    int k) {
  RankRow row;
  row.serial = std::to_string(k + 1);
  row.keyword = e.keyword;
  row.rank = RankText(e.rank, e.index);
  row.title = RankTitle(e, domain);
  row.href = baseUrl + "/link?url=" + Token(domain, e.index);
  row.target = TargetOf(domain, e.index);

  const std::string search = baseUrl + "/baidu?word=" + PercentEncode(e.keyword);
  const std::string hint = Gbk("此关键词包含:") + e.hint;
  std::string keywordCell = "<td " + Attr("class", "blue t_l word", k % 3 == 1 ? 1 : 0) + ">";
  switch (k % 4) {
    case 1:
      row.hint = e.hint;
      keywordCell += "\r\n            <a href=\"" + search + "\" target=\"_blank\">" + e.keyword +
                     "</a>\r\n            <br /><span class=\"gray\">" + hint +
                     "</span>\r\n          </td>";
      break;
    case 2:
      keywordCell += "&nbsp;" + e.keyword + "&nbsp;</td>";
      break;
    case 3:
      row.hint = e.hint;
      keywordCell += "\r\n\t\t\t<a href=\"" + search + "\"\r\n               target=\"_blank\">\r\n" +
                     "              " + e.keyword + "</a>" + hint + "\r\n          </td>";
      break;
    default:
      keywordCell += "\r\n            " + e.keyword + "\r\n          </td>";
  }

  std::string rankCell = "<td " + Attr("class", "blue", k % 3) + ">";
  if (k % 3 == 1) {
    rankCell += "<span class=\"rank\">" + row.rank + "</span></td>";
  } else if (k % 3 == 2) {
    rankCell += "\r\n\t\t\t" + row.rank + "\r\n          </td>";
  } else {
    rankCell += row.rank + "</td>";
  }

  std::string volumeMarkup, indexedMarkup;
  Figure(e.volume, k % 4, volumeMarkup, row.volume);
  Figure(e.indexed, (k + 2) % 4, indexedMarkup, row.indexed);
  const std::string volumeCell = "<td " + Attr("align", "right", k % 3) + ">" + volumeMarkup + "</td>";
  const std::string indexedCell =
      "<td " + Attr("align", "right", (k + 1) % 3) + ">" + indexedMarkup + "</td>";

  std::string anchor;
  if (k % 5 == 3) {
    anchor = "<a href='" + row.href + "' target='_blank'>";
  } else if (k % 5 == 4) {
    anchor = "<a href=" + row.href + " target=_blank>";  // a blank must end a bare value
  } else {
    anchor = "<a href=\"" + row.href + "\" target=\"_blank\">";
  }
  const std::string titleText =
      k % 2 == 1 ? "\r\n              " + row.title + "\r\n            " : row.title;
  const std::string titleCell = "<td " + Attr("class", "blue t_l", (k + 2) % 3 == 1 ? 1 : 0) +
                                ">" + anchor + titleText + "</a></td>";

  row.html = "<tr class=\"" + std::string(k % 2 == 0 ? "odd" : "even") + "\">\r\n" +
             "        <td>" + row.serial + "</td>\r\n" +
             "        " + keywordCell + "\r\n" +
             "        " + rankCell + "\r\n" +
             "        " + volumeCell + "\r\n" +
             "        " + indexedCell + "\r\n" +
             "        " + titleCell + "\r\n" +
             "      </tr>";
  return row;
}

// Page links of a result page; href(n) gives the address of page n.
template <typename Href>
std::string PageLinkBlock(int current, int count, const Options& options, Href href,
                          const char* lineEnd) {
  const std::string close = options.pageLinksInCapitals ? "</A>" : "</a>";
  std::string out = "<div class=\"pager\">" + std::string(lineEnd);
  out += "    <span class=\"total\">" + Gbk("共") + std::to_string(count) + Gbk("页") + "</span>" + lineEnd;
  if (current > 1 && current <= count) {
    out += "    <a href=\"" + href(1) + "\">" + Gbk("首页") + close + lineEnd;
    out += "    <a href=\"" + href(current - 1) + "\">" + Gbk("上一页") + close + lineEnd;
  }
  for (int n = 1; n <= count; ++n) {
    if (n == current) {
      out += "    <span class=\"current\">" + std::to_string(n) + "</span>" + lineEnd;
    } else if (options.pageLinks == PageLinks::kAll || n > 50) {
      out += "    <a href=\"" + href(n) + "\">" + std::to_string(n) + close + lineEnd;
    }
  }
  if (current < count) {
    out += "    <a href=\"" + href(current + 1) + "\">" + Gbk("下一页") + close + lineEnd;
    out += "    <a href=\"" + href(count) + "\">" + Gbk("尾页") + close + lineEnd;
  }
  out += "  </div>";
  return out;
}

std::string Utf8Of(const std::string& gbk) { return GbkToUtf8Text(gbk); }

// Site cell of a keyword row: its inner markup and its text as written. Forms
// 1 to 4 carry the quirks a parser must handle: a literal comma, "&amp;", a
// comma as a numeric reference and encoded angle brackets.
void SiteCell(int form, int number, std::string& markup, std::string& text) {
  static const char* const kQuirkTexts[] = {"好站,专业站", "建材 &amp; 家居", "站点&#44;分站",
                                            "&lt;b&gt;推荐&lt;/b&gt;站点"};
  const std::string n = std::to_string(number);
  if (form == 5) {  // plain text, no link
    text = "www.plain" + n + ".example.invalid";
    markup = "\n      " + text + "\n    ";
    return;
  }
  text = form >= 1 && form <= 4 ? Gbk(kQuirkTexts[form - 1]) + n : "www.site" + n + ".example.invalid";
  markup = "\n      <a href=\"http://site" + n + ".example.invalid/\" target=\"_blank\">" + text + "</a>\n    ";
}

bool NoResultsFor(const std::string& seed, const Options& options) {
  return options.keywordNoResults || options.keywordNoResultSeeds.count(seed) > 0;
}

}  // namespace

std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }

bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += len;
  }
  return true;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += GbkCharLen(text, i)) {
    switch (text[i]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.append(text, i, GbkCharLen(text, i));
    }
  }
  return out;
}

std::string PercentEncode(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

int RankPageCount(const Options& options, const std::string& domain) {
  auto it = options.rankPagesByDomain.find(domain);
  return std::max(0, it != options.rankPagesByDomain.end() ? it->second : options.rankPages);
}

int KeywordPageCount(const Options& options, const std::string& seed) {
  auto it = options.keywordPagesBySeed.find(seed);
  return std::max(0, it != options.keywordPagesBySeed.end() ? it->second : options.keywordPages);
}

bool IsSortWord(const std::string& word) {
  const std::string w = LowerAscii(word);
  return w == "position" || w == "ip" || w == "zhishu";
}

std::vector<RankRow> ExpectedRankRows(const std::string& baseUrl, const std::string& domain,
                                      int page, const std::string& sortWord,
                                      const Options& options) {
  std::vector<RankRow> rows;
  const int count = RankPageCount(options, domain);
  if (!IsSortWord(sortWord) || page < 1 || page > count) return rows;
  if (options.rankLastPageWithoutResults && page == count) return rows;
  const std::vector<RankEntry> listing = RankListing(domain, sortWord, options);
  const int perPage = std::max(0, options.rankRowsPerPage);
  for (int k = (page - 1) * perPage; k < page * perPage; ++k) {
    rows.push_back(MakeRankRow(baseUrl, domain, listing[static_cast<std::size_t>(k)], k));
  }
  return rows;
}

std::vector<KeywordRow> ExpectedKeywordRows(const std::string& seed, int page,
                                            const Options& options) {
  std::vector<KeywordRow> rows;
  if (page < 1) return rows;
  if (NoResultsFor(seed, options)) {
    KeywordRow row;
    row.hasCells = false;
    row.html = "<tr class=\"empty\">\n  <th colspan=\"7\">" + Gbk("暂无相关关键词") + "</th>\n</tr>";
    rows.push_back(row);
    return rows;
  }
  if (page > KeywordPageCount(options, seed)) return rows;
  const int perPage = std::max(0, options.keywordRowsPerPage);
  const auto keywordAt = [&seed](int g) {
    return HtmlEscape(seed) + Suffixes()[static_cast<std::size_t>(g) % Suffixes().size()] +
           (g >= 16 ? std::to_string(g / 16 + 1) : "");
  };
  for (int j = 0; j < perPage; ++j) {
    const int g = (page - 1) * perPage + j;
    KeywordRow row;
    row.serial = std::to_string(g + 1);
    row.keyword = keywordAt(g);
    if (options.keywordDuplicates && page == 2 && j == perPage - 1) row.keyword = keywordAt(0);
    row.volume = std::to_string(Mix(seed, "volume", g) % 20000);
    row.indexed = std::to_string(Mix(seed, "indexed", g) % 90000000);
    row.level = 1 + static_cast<int>(Mix(seed, "level", g) % 5);
    std::string firstMarkup, secondMarkup;
    SiteCell(g % 6, 10 + static_cast<int>(Mix(seed, "first", g) % 90), firstMarkup, row.first);
    SiteCell((g + 3) % 6, 10 + static_cast<int>(Mix(seed, "second", g) % 90), secondMarkup,
             row.second);
    const std::string link = "<a href=\"/" + PercentEncode(Utf8Of(row.keyword)) + "/1/\" target=\"_blank\">";
    const std::string keywordCell =
        j % 5 == 4 ? "\n      " + link + Gbk("　") + row.keyword + Gbk("　") + "</a>\n  "
                   : "\n      " + link + "\n          " + row.keyword + "\n      </a>\n  ";
    const std::string level = std::to_string(row.level);
    row.html = "<tr>\n"
               "  <td>" + row.serial + "</td>\n"
               "  <td class=\"word\">" + keywordCell + "</td>\n"
               "  <td>" + row.volume + "</td>\n"
               "  <td class=\"num\">" + row.indexed + "</td>\n"
               "  <td class=\"site\">" + firstMarkup + "</td>\n"
               "  <td class=\"site\">" + secondMarkup + "</td>\n"
               "  <td><img src=\"/images/keyword/l" + level + ".gif\" width=\"50\" height=\"10\" alt=\"" +
               level + "\" /></td>\n"
               "</tr>";
    rows.push_back(row);
  }
  return rows;
}

namespace {

// A ranking page around `block`, the piece between the sort tabs and the page
// links; `count` is the number of pages the page names.
std::string RankPageFrame(const std::string& domain, int page, const std::string& sortWord, int count,
                          const Options& options, const std::string& block) {
  const std::string d = HtmlEscape(domain);
  const std::string sort = LowerAscii(sortWord);
  const std::string linkSort = options.pageLinksInCapitals ? UpperAscii(sort) : sort;
  const std::string p = std::to_string(page);
  const char* crlf = "\r\n";

  std::string html =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
      "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\r\n"
      "<title>" + d + Gbk("的百度排名_第") + p + Gbk("页_览数") + "</title>\r\n"
      "<style type=\"text/css\">\r\n"
      "body{font-size:12px;margin:0;font-family:Tahoma}\r\n"
      ".box_05{border:1px solid #c5d5e5;margin:8px 0}.blue{color:#0a5fb4}.t_l{text-align:left}\r\n"
      ".pager a,.pager span{margin:0 3px}\r\n"
      "</style>\r\n"
      "<script type=\"text/javascript\">\r\n"
      "var pageNo = " + p + ", pageCount = " + std::to_string(count) + ";\r\n"
      "function gotoPage(n) {\r\n"
      "  if (n >= 1 && n <= pageCount) {\r\n"
      "    location.href = \"/baidu/\" + document.getElementById(\"domain\").value + \"/\" + n + \"/" +
      sort + "/\";\r\n"
      "  }\r\n}\r\n"
      "</script>\r\n"
      "</head>\r\n<body>\r\n"
      "<div id=\"header\">\r\n"
      "  <div class=\"logo\"><a href=\"/\">" + Gbk("览数") + "</a></div>\r\n"
      "  <table class=\"nav\" cellpadding=\"0\" cellspacing=\"0\">\r\n"
      "    <tr>\r\n"
      "      <td><a href=\"/\">" + Gbk("首页") + "</a></td>\r\n"
      "      <td><a href=\"/user.php\">" + Gbk("用户中心") + "</a></td>\r\n"
      "      <td class=\"cur\">" + Gbk("百度排名") + "</td>\r\n"
      "    </tr>\r\n"
      "  </table>\r\n"
      "</div>\r\n"
      "<div id=\"main\">\r\n"
      "  <div class=\"query\">\r\n"
      "    <form action=\"/baidu/\" method=\"get\"><input type=\"text\" id=\"domain\" name=\"domain\" value=\"" +
      d + "\" /> <input type=\"submit\" value=\"" + Gbk("查询") + "\" /></form>\r\n"
      "  </div>\r\n"
      "  <div class=\"tabs\">\r\n"
      "    <a href=\"/baidu/" + d + "/1/position/\">" + Gbk("按排名") + "</a>\r\n"
      "    <a href=\"/baidu/" + d + "/1/ip/\">" + Gbk("按来访") + "</a>\r\n"
      "    <a href=\"/baidu/" + d + "/1/zhishu/\">" + Gbk("按指数") + "</a>\r\n"
      "  </div>\r\n";
  html += block;
  html += "  " +
          PageLinkBlock(page, count, options,
                        [&](int n) { return "/baidu/" + d + "/" + std::to_string(n) + "/" + linkSort + "/"; },
                        crlf) +
          "\r\n</div>\r\n"
          "<div id=\"footer\">\r\n"
          "  <table width=\"100%\"><tr><td>" + Gbk("版权所有 览数") + "</td><td align=\"right\">" +
          Gbk("数据仅供参考") + "</td></tr></table>\r\n"
          "</div>\r\n</body>\r\n</html>\r\n";
  return html;
}

// The results block up to and including its header row, which the site
// writes with th cells on odd pages and td cells on even ones.
std::string RankResultsHead(const std::string& domain, int page, int total) {
  const std::string header =
      page % 2 == 1
          ? "<tr class=\"head\">\r\n        <th width=\"50\">" + Gbk("序号") + "</th><th>" +
                Gbk("关键词") + "</th><th>" + Gbk("排名") + "</th><th>" + Gbk("搜索量") +
                "</th><th>" + Gbk("收录量") + "</th><th>" + Gbk("网页标题") + "</th>\r\n      </tr>"
          : "<tr class=\"head\">\r\n        <td>" + Gbk("序号") + "</td><td>" + Gbk("关键词") +
                "</td><td>" + Gbk("排名") + "</td><td>" + Gbk("搜索量") + "</td><td>" +
                Gbk("收录量") + "</td><td>" + Gbk("网页标题") + "</td>\r\n      </tr>";
  return "  <div class=\"box_05\">\r\n"
         "    <div class=\"box_title\"><span>" + HtmlEscape(domain) + "</span> " + Gbk("共有 ") +
         std::to_string(total) + Gbk(" 个关键词排名") + "</div>\r\n"
         "    <table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" class=\"list\">\r\n"
         "      " + header + "\r\n";
}

}  // namespace

std::string RankPageHtml(const std::string& baseUrl, const std::string& domain, int page,
                         const std::string& sortWord, const Options& options) {
  const int count = RankPageCount(options, domain);
  std::string block;
  if (options.rankLastPageWithoutResults && page == count) {
    block = "  <div class=\"notice\">" + Gbk("登录后可查看更多排名数据") + "</div>\r\n";
  } else {
    block = RankResultsHead(domain, page, count * std::max(0, options.rankRowsPerPage));
    for (const RankRow& row : ExpectedRankRows(baseUrl, domain, page, LowerAscii(sortWord), options)) {
      block += "      " + row.html + "\r\n";
    }
    block += "    </table>\r\n  </div>\r\n";
  }
  return RankPageFrame(domain, page, sortWord, count, options, block);
}

std::string RankNoDataPageHtml(const std::string& domain, int page, const std::string& sortWord,
                               const Options& options) {
  const std::string block = RankResultsHead(domain, page, 0) + "    </table>\r\n" +
                            "    <div class=\"nodata\">" + Gbk("暂无该域名的数据，请换个域名再查") +
                            "</div>\r\n  </div>\r\n";
  return RankPageFrame(domain, page, sortWord, 0, options, block);
}

namespace {

// A keyword page: `rows` go into the table after its header row, `inBox`
// after the table inside the results block, `afterBox` after the block.
std::string KeywordPageFrame(const std::string& seed, int page, const std::string& rows,
                             const std::string& inBox, const std::string& afterBox) {
  const std::string s = HtmlEscape(seed);
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>" + s + Gbk("的相关关键词_第") + std::to_string(page) + Gbk("页") + "</title>\n"
      "<link rel=\"stylesheet\" href=\"/static/kw.css\">\n"
      "<style>.box_05{margin:10px 0}.kwlist td{padding:2px 6px}</style>\n"
      "</head>\n<body>\n"
      "<div class=\"header\"><a href=\"/\" class=\"logo\">" + Gbk("览数") + "</a>\n"
      "<form action=\"/\" method=\"get\"><input type=\"text\" name=\"kw\" value=\"" + s +
      "\" /><input type=\"submit\" value=\"" + Gbk("挖掘") + "\" /></form>\n</div>\n"
      "<div class=\"main\">\n<div class=\"box_05\">\n"
      "<div class=\"box_title\">" + Gbk("“") + s + Gbk("”的相关关键词") + "</div>\n"
      "<table class=\"kwlist\" cellspacing=\"0\">\n"
      "<tr>\n  <th>" + Gbk("序号") + "</th><th>" + Gbk("关键词") + "</th><th>" + Gbk("搜索量") +
      "</th><th>" + Gbk("收录量") + "</th><th>" + Gbk("第一位") + "</th><th>" + Gbk("第二位") +
      "</th><th>" + Gbk("优化难度") + "</th>\n</tr>\n";
  html += rows;
  html += "</table>\n" + inBox + "</div>\n" + afterBox;
  html += "</div>\n<div class=\"footer\">" + Gbk("版权所有 览数") + "</div>\n</body>\n</html>\n";
  return html;
}

}  // namespace

std::string KeywordPageHtml(const std::string& seed, int page, const Options& options) {
  const std::string encoded = PercentEncode(Utf8Of(seed));
  const bool noResults = NoResultsFor(seed, options);
  const int count = noResults ? 0 : KeywordPageCount(options, seed);
  std::string rows;
  for (const KeywordRow& row : ExpectedKeywordRows(seed, page, options)) rows += row.html + "\n";
  std::string pager;
  if (!noResults) {
    pager = PageLinkBlock(page, count, options,
                          [&](int n) { return "/" + encoded + "/" + std::to_string(n) + "/"; }, "\n") +
            "\n";
  }
  return KeywordPageFrame(seed, page, rows, "", pager);
}

std::string KeywordNoDataPageHtml(const std::string& seed, int page) {
  return KeywordPageFrame(seed, page, "",
                          "<div class=\"nodata\">" + Gbk("没有找到“") + HtmlEscape(seed) +
                              Gbk("”的相关关键词，暂无数据") + "</div>\n",
                          "");
}

std::string RankPath(const std::string& domain, int page, const std::string& sortWord) {
  return "/baidu/" + domain + "/" + std::to_string(page) + "/" + sortWord + "/";
}

std::string KeywordPath(const std::string& seed, int page) {
  return "/" + PercentEncode(Utf8Of(seed)) + "/" + std::to_string(page) + "/";
}

bool RedirectTarget(const std::string& token, std::string& location) {
  std::string bytes;
  if (token.empty() || !FromBase64Url(token, bytes)) return false;
  bytes = Scramble(bytes);
  const std::size_t nl = bytes.rfind('\n');
  if (nl == std::string::npos || nl + 1 >= bytes.size() || bytes.size() - nl > 8) return false;
  int index = 0;
  for (std::size_t i = nl + 1; i < bytes.size(); ++i) {
    if (bytes[i] < '0' || bytes[i] > '9') return false;
    index = index * 10 + (bytes[i] - '0');
  }
  const std::string domain = bytes.substr(0, nl);
  if (Token(domain, index) != token) return false;  // only tokens the site wrote
  location = TargetOf(domain, index);
  return true;
}

}  // namespace lanshu::demo
