// Code page 936 conversions on what the parsers and the regex objects feed
// them: a table row of about 1 KB (ASCII markup with some Chinese) and a page
// of about 60 KB made of such rows.
#include <benchmark/benchmark.h>

#include <string>

#include "text/Codec.h"

namespace {

std::string Row(int i) {
  const std::string n = std::to_string(i);
  // 减肥方法 / 排名 / 收录 in GBK, mixed into markup as a ranking row has it.
  std::string row = "<tr class=\"row" + n + "\"><td class=\"kw\"><a href=\"http://127.0.0.1:8080/q?wd=%BC%F5&amp;pn=" +
                    n + "\" target=\"_blank\">\xBC\xF5\xB7\xCA\xB7\xBD\xB7\xA8" + n +
                    "</a></td>\r\n<td class=\"num\">" + n + "</td><td>\xC5\xC5\xC3\xFB</td><td class=\"idx\">" +
                    "\xCA\xD5\xC2\xBC: 1,234</td>\r\n";
  while (row.size() < 1024) {
    row += "<td style=\"text-align:center;color:#333\">\xCA\xD5\xC2\xBC " + n + " / \xC5\xC5\xC3\xFB</td>\r\n";
  }
  row += "</tr>\r\n";
  return row;
}

std::string Page() {
  std::string page = "<html><head><title>\xC5\xC5\xC3\xFB</title></head><body><table>\r\n";
  for (int i = 0; page.size() < 60 * 1024; ++i) page += Row(i);
  return page + "</table></body></html>\r\n";
}

void Decode(benchmark::State& state, const std::string& text) {
  for (auto _ : state) benchmark::DoNotOptimize(lanshu::GbkToU16(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void Encode(benchmark::State& state, const std::string& text) {
  const std::u16string units = lanshu::GbkToU16(text);
  for (auto _ : state) benchmark::DoNotOptimize(lanshu::U16ToGbk(units));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_GbkToU16_Row(benchmark::State& state) { Decode(state, Row(7)); }
void BM_U16ToGbk_Row(benchmark::State& state) { Encode(state, Row(7)); }
void BM_GbkToU16_Page(benchmark::State& state) { Decode(state, Page()); }
void BM_U16ToGbk_Page(benchmark::State& state) { Encode(state, Page()); }

void BM_GbkToU16_Short(benchmark::State& state) { Decode(state, "<td class=\"kw\">\xBC\xF5\xB7\xCA</td>"); }
void BM_U16ToGbk_Short(benchmark::State& state) { Encode(state, "<td class=\"kw\">\xBC\xF5\xB7\xCA</td>"); }

void BM_GbkToUtf8_Page(benchmark::State& state) {
  const std::string text = Page();
  for (auto _ : state) benchmark::DoNotOptimize(lanshu::GbkToUtf8Text(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Utf8ToGbk_Page(benchmark::State& state) {
  const std::string utf8 = lanshu::GbkToUtf8Text(Page());
  for (auto _ : state) benchmark::DoNotOptimize(lanshu::Utf8TextToGbk(utf8));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(utf8.size()));
}

}  // namespace

BENCHMARK(BM_GbkToU16_Short);
BENCHMARK(BM_U16ToGbk_Short);
BENCHMARK(BM_GbkToU16_Row);
BENCHMARK(BM_U16ToGbk_Row);
BENCHMARK(BM_GbkToU16_Page);
BENCHMARK(BM_U16ToGbk_Page);
BENCHMARK(BM_GbkToUtf8_Page);
BENCHMARK(BM_Utf8ToGbk_Page);

BENCHMARK_MAIN();
