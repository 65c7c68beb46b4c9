#include "cli/progress.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace {

constexpr long IntervalMs = 100;
constexpr double Megabyte = 1e6;
constexpr int SecondsPerMinute = 60, MinutesPerHour = 60;

long NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

struct Line {
  std::mutex mutex;
  bool active = false;
  bool shown = false;  // text stands on stderr now
  uint64_t total = 0, done = 0;
  long startMs = 0, lastMs = 0;
} line;

std::string Duration(double seconds) {
  long s = seconds < 0 ? 0 : (long)(seconds + 0.5);
  char text[32];
  if (s >= SecondsPerMinute * MinutesPerHour)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

void EraseLocked() {
  if (!line.shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  line.shown = false;
}

void DrawLocked(bool force) {
  if (!line.active) return;
  long now = NowMs();
  long elapsed = now - line.startMs;
  if (!force && now - line.lastMs < IntervalMs) return;
  line.lastMs = now;
  uint64_t done = line.done < line.total ? line.done : line.total;
  unsigned percent = line.total == 0 ? 100 : (unsigned)(done * 100 / line.total);
  double rate = elapsed > 0 ? done / (elapsed / 1000.0) : 0;
  // Until a rate is known the time left is too.
  std::string left = done >= line.total ? Duration(0) : rate > 0 ? Duration((line.total - done) / rate) : "-:--";
  std::fprintf(stderr, "\r\033[K%3u%%  %.1f of %.1f MB  %.1f MB/s  %s left", percent,
               done / Megabyte, line.total / Megabyte, rate / Megabyte, left.c_str());
  std::fflush(stderr);
  line.shown = true;
}

}  // namespace

void StartProgress(uint64_t total, bool show) {
  std::lock_guard<std::mutex> lock(line.mutex);
  EraseLocked();
  line.active = show && isatty(STDERR_FILENO) != 0;
  line.total = total;
  line.done = 0;
  line.startMs = NowMs();
  line.lastMs = 0;
}

void SetProgress(uint64_t done) {
  std::lock_guard<std::mutex> lock(line.mutex);
  line.done = done;
  DrawLocked(false);
}

void AddProgress(uint64_t more) {
  std::lock_guard<std::mutex> lock(line.mutex);
  line.done += more;
  DrawLocked(false);
}

void ClearProgress() {
  std::lock_guard<std::mutex> lock(line.mutex);
  EraseLocked();
}

void StopProgress() {
  std::lock_guard<std::mutex> lock(line.mutex);
  EraseLocked();
  line.active = false;
}
