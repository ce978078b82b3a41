// Throughput of the web layer: the HTML tokenizer over a 1 MB page (and
// over 100 MB of "<", its worst input), and a 100 MB download from a
// server on 127.0.0.1 into a CBufferFile. Reports bytes per second.

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "series/buffer_file.h"
#include "series/buffer_string.h"
#include "web/html_tokenizer.h"
#include "web/http_client.h"

namespace {

// A price-history page of about `size` bytes: table rows of dates and
// figures with classes, links and comments, as the page readers see them.
std::string HistoryPage(size_t size) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
      "<title>history</title></head><body><table class=\"history\">\n";
  for (int row = 0; page.size() < size; ++row) {
    page += "<tr class=\"row\"><td class='date'>2024\xe5\xb9\xb4" + std::to_string(row % 12 + 1) +
            "\xe6\x9c\x88" + std::to_string(row % 28 + 1) +
            "\xe6\x97\xa5</td>\n\t<td class=num>1,234.5</td><td class=num>1,250</td>"
            "<td class=num>1,201</td><td class=num>1,240</td>"
            "<td class=num data-v=12345600>12,345,600</td>"
            "<td><a href=\"/quote/1301?p=" + std::to_string(row) + "\">detail</a></td>"
            "<!-- row " + std::to_string(row) + " --></tr>\n";
  }
  return page + "</table></body></html>\n";
}

void Fill(CBufferString& buffer, const std::string& bytes) {
  CBuffer::Handle h = buffer.OpenWrite();
  buffer.Write(h, bytes.data(), static_cast<int32_t>(bytes.size()));
  buffer.Close(h);
}

void Tokenize(benchmark::State& state, const std::string& page) {
  CBufferString buffer;
  Fill(buffer, page);
  int64_t tokens = 0;
  for (auto _ : state) {
    CHtmlTokenizer tokenizer;
    if (!tokenizer.Open(buffer)) std::abort();
    int32_t kind = 0;
    std::string text;
    while (tokenizer.Next(kind, text)) ++tokens;
    benchmark::DoNotOptimize(tokens);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
  state.counters["tokens"] = static_cast<double>(tokens) / static_cast<double>(state.iterations());
}

void BM_TokenizePage1MB(benchmark::State& state) {
  Tokenize(state, HistoryPage(1 << 20));
}
BENCHMARK(BM_TokenizePage1MB)->Unit(benchmark::kMillisecond);

void BM_TokenizeLessThanSigns100MB(benchmark::State& state) {
  Tokenize(state, std::string(100u << 20, '<'));
}
BENCHMARK(BM_TokenizeLessThanSigns100MB)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_DownloadToFile100MB(benchmark::State& state) {
  static const std::string body(100u << 20, 'd');
  httplib::Server server;
  server.Get("/archive.gz", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(
        body.size(), "application/octet-stream",
        [](size_t offset, size_t length, httplib::DataSink& sink) {
          const size_t piece = std::min<size_t>(length, 1u << 20);
          return sink.write(body.data() + offset, piece);
        });
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread thread([&server] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::yield();
  setenv("no_proxy", "*", 1);

  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/archive.gz";
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("tickora-bench-" + std::to_string(getpid()) + ".gz"))
                               .string();
  CHttpClient client;
  for (auto _ : state) {
    CBufferFile file(path);
    if (client.Get(url, file) != 0) state.SkipWithError("download failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
  server.stop();
  thread.join();
}
BENCHMARK(BM_DownloadToFile100MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
