// Reading a 1 MB price history page: the whole reader (tokenize, convert
// the texts to CP932, walk the table, build the day records) against the
// tokenizer alone on the same page. The reader is expected to keep at
// least half the tokenizer's speed; the last benchmark measures both in
// turn on every iteration and reports the two rates and their ratio.

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "series/buffer_string.h"
#include "support/text.h"
#include "web/html_tokenizer.h"
#include "web/price_pages.h"

namespace {

// A history page of about `size` bytes as the finance portal writes it:
// head, navigation, the table (dates over lines, figures in spans, split
// notices now and then), scripts and footer. UTF-8.
std::string HistoryPage(size_t size) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
      "<title>\xe6\x99\x82\xe7\xb3\xbb\xe5\x88\x97</title>"
      "<script>for (var i = 0; i < 3; i++) { window.x = i; }</script></head>\n<body>"
      "<nav><ul><li><a href=\"/\">top</a></li><li><a href=\"/news/\">news</a></li></ul></nav>\n"
      "<table class=\"StocksEtfReitPriceHistory__historyTable__13C_\">\n<thead><tr>"
      "<TH>\xe6\x97\xa5\xe4\xbb\x98</TH><TH>o</TH><TH>h</TH><TH>l</TH><TH>c</TH><TH>v</TH>"
      // 調整後終値*
      "<TH>\xe8\xaa\xbf\xe6\x95\xb4\xe5\xbe\x8c\xe7\xb5\x82\xe5\x80\xa4*</TH></tr></thead>\n"
      "<tbody>\n";
  const std::string year = "\xe5\xb9\xb4", month = "\xe6\x9c\x88", day = "\xe6\x97\xa5";
  auto cell = [](const std::string& figure) {
    return "<td><span class=\"StyledNumber__value__3rXW\">" + figure + "</span></td>";
  };
  for (int row = 0; page.size() < size; ++row) {
    const std::string date = std::to_string(2024 - row / 250) + year +
                             std::to_string(12 - row / 21 % 12) + month +
                             std::to_string(28 - row % 28) + day;
    page += "<tr>\n  <th class=\"date\">\n    " + date + "\n  </th>\n";
    if (row % 97 == 96) {
      page += "  <td colspan='6' class=notice>\xe5\x88\x86\xe5\x89\xb2: 1:2</td>\n</tr>\n";
      continue;
    }
    page += "  " + cell(StringFormat("%d,%03d", 1 + row % 9, row % 1000)) +
            cell(StringFormat("%d,%03d.5", 1 + row % 9, (row + 7) % 1000)) + cell("1,201") +
            cell("1,240") + "\n  " + cell(StringFormat("%d,%03d,600", 1 + row % 50, row % 1000)) +
            cell("1,240") + "\n</tr>\n";
  }
  return page + "</tbody>\n</table>\n<footer>&copy; portal</footer></body></html>\n";
}

const std::string& Page() {
  static const std::string page = HistoryPage(1 << 20);
  return page;
}

void Fill(CBufferString& buffer, const std::string& bytes) {
  CBuffer::Handle h = buffer.OpenWrite();
  buffer.Write(h, bytes.data(), static_cast<int32_t>(bytes.size()));
  buffer.Close(h);
}

int64_t TokenizeOnce(CBuffer& buffer) {
  CHtmlTokenizer tokenizer;
  if (!tokenizer.Open(buffer)) std::abort();
  int32_t kind = 0;
  std::string text;
  int64_t tokens = 0;
  while (tokenizer.Next(kind, text)) ++tokens;
  return tokens;
}

size_t ReadOnce(CBuffer& buffer) {
  std::vector<CDayRecord> rows;
  if (ReadStockHistoryPage(buffer, rows) != 0) return 0;
  return rows.size();
}

double Seconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_TokenizeHistoryPage(benchmark::State& state) {
  CBufferString buffer;
  Fill(buffer, Page());
  for (auto _ : state) benchmark::DoNotOptimize(TokenizeOnce(buffer));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(Page().size()));
}
BENCHMARK(BM_TokenizeHistoryPage)->Unit(benchmark::kMillisecond);

void BM_ReadHistoryPage(benchmark::State& state) {
  CBufferString buffer;
  Fill(buffer, Page());
  size_t rows = 0;
  for (auto _ : state) benchmark::DoNotOptimize(rows = ReadOnce(buffer));
  if (rows == 0) state.SkipWithError("the page did not read");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(Page().size()));
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_ReadHistoryPage)->Unit(benchmark::kMillisecond);

// Both on every iteration: MB/s of each and reader / tokenizer (the limit
// is 0.5).
void BM_ReaderAgainstTokenizer(benchmark::State& state) {
  CBufferString buffer;
  Fill(buffer, Page());
  double tokenizing = 0;
  double reading = 0;
  for (auto _ : state) {
    const double start = Seconds();
    benchmark::DoNotOptimize(TokenizeOnce(buffer));
    const double middle = Seconds();
    benchmark::DoNotOptimize(ReadOnce(buffer));
    tokenizing += middle - start;
    reading += Seconds() - middle;
  }
  const double megabytes =
      static_cast<double>(Page().size()) * static_cast<double>(state.iterations()) / 1e6;
  state.counters["tokenizer_MBps"] = megabytes / tokenizing;
  state.counters["reader_MBps"] = megabytes / reading;
  state.counters["reader_vs_tokenizer"] = tokenizing / reading;
  if (tokenizing / reading < 0.5) state.SkipWithError("the reader is below half the tokenizer");
}
BENCHMARK(BM_ReaderAgainstTokenizer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
