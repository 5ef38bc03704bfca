// Writes a record file for tests, demos and benchmarks: N records of 4096 bytes with
// realistic prefaces of every kind the tool decodes, optionally followed by a short final
// record of K bytes, all determined by a seed. With DAYS, the dated records are in time order,
// spread evenly over DAYS days from 2000-001T00:00:00.
//
//   mkrecords FILE N [K [SEED [DAYS]]]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kRecordSize = 4096;

struct Rng {
  std::uint64_t s;
  std::uint64_t next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
};

unsigned char bcd(int v) {
  return static_cast<unsigned char>((v / 10) * 16 + v % 10);
}

// The time of the record being made, in seconds from 2000-001T00:00:00; -1 for random dates.
long long g_at = -1;

// A dated preface: date, time and two equal status values, starting at the given bytes.
void dated(unsigned char* r, Rng& rng, int date_at, int time_at, int status_at) {
  int day = 1 + rng.below(365);
  int year = rng.below(100), h = rng.below(24), m = rng.below(60), s = rng.below(60);
  if (g_at >= 0) {
    year = 0;
    day = static_cast<int>(1 + g_at / 86400);
    h = static_cast<int>(g_at / 3600 % 24);
    m = static_cast<int>(g_at / 60 % 60);
    s = static_cast<int>(g_at % 60);
  }
  r[date_at] = bcd(year);
  r[date_at + 1] = static_cast<unsigned char>(0xF0 | day / 100);
  r[date_at + 2] = bcd(day % 100);
  r[time_at] = bcd(h);
  r[time_at + 1] = bcd(m);
  r[time_at + 2] = bcd(s);
  int status = rng.below(1000);
  for (int copy = 0; copy < 2; ++copy) {
    unsigned char* s = r + status_at + 3 * copy;
    s[0] = static_cast<unsigned char>(0x30 | status / 100);
    s[1] = static_cast<unsigned char>(0x30 | status / 10 % 10);
    s[2] = static_cast<unsigned char>(0x30 | status % 10);
  }
}

// Fills one record (index from 0; r[0] is byte 1) with a preface and random data.
void make_record(unsigned char* r, Rng& rng) {
  for (int i = 0; i < kRecordSize; i += 8) {
    std::uint64_t v = rng.next();
    std::memcpy(r + i, &v, 8);
  }
  static constexpr int kTypes[] = {2, 3, 2, 3, 8, 9, 11, 10, 12, 13, 15, 15, 0, 1, 4, 5, 6, 7, 14};
  int type = kTypes[rng.below(sizeof kTypes / sizeof kTypes[0])];
  r[0] = static_cast<unsigned char>((r[0] & 0xF0) | type);
  switch (type) {
    case 2:
    case 3:
      r[1] = 60;
      r[2] = 0xFF;
      dated(r, rng, 3, 8, 11);
      break;
    case 8:
    case 9:
    case 11:
      r[1] = 60;
      for (int k = 1; k <= 11; ++k)
        r[2 + k] = static_cast<unsigned char>((r[2 + k] & 0xF0) | rng.below(10));
      break;
    case 10:
    case 12:
    case 13:
      for (int k = 1; k <= 11; ++k) {
        int d = rng.below(10);
        for (int b = 0; b < 4; ++b) {
          unsigned char& byte = r[4 * k + b];
          byte = static_cast<unsigned char>((byte & 0xFE) | ((d >> b) & 1));
        }
      }
      break;
    case 15:
      r[3] = r[4] = 0xCC;
      if (rng.below(2) == 0) {
        r[9] = 0xFF;
        dated(r, rng, 10, 15, 18);
      } else {
        r[9] = 0x00;
        for (int k = 1; k <= 11; ++k) r[7 + k] = static_cast<unsigned char>(rng.below(10));
      }
      break;
    default:
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 6) {
    std::fprintf(stderr, "usage: mkrecords FILE N [K [SEED [DAYS]]]\n");
    return 2;
  }
  long long n = std::atoll(argv[2]);
  int k = argc > 3 ? std::atoi(argv[3]) : 0;
  Rng rng{argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1};
  const long long days = argc > 5 ? std::atoll(argv[5]) : 0;
  if (n < 0 || k < 0 || k >= kRecordSize || days < 0 || days > 365) {
    std::fprintf(stderr, "mkrecords: N must be >= 0, K in 0..4095 and DAYS in 0..365\n");
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<unsigned char> block(256 * kRecordSize);
  bool ok = true;
  for (long long done = 0; done < n && ok;) {
    long long batch = std::min<long long>(n - done, 256);
    for (long long i = 0; i < batch; ++i) {
      if (days > 0) g_at = (done + i) * days * 86400 / n;
      make_record(block.data() + i * kRecordSize, rng);
    }
    ok = std::fwrite(block.data(), kRecordSize, static_cast<std::size_t>(batch), f) ==
         static_cast<std::size_t>(batch);
    done += batch;
  }
  if (ok && k > 0) {
    make_record(block.data(), rng);
    block[static_cast<std::size_t>(k) - 1] = 0x5A;  // the data ends exactly at byte K
    ok =
        std::fwrite(block.data(), 1, static_cast<std::size_t>(k), f) == static_cast<std::size_t>(k);
  }
  if (std::fclose(f) != 0 || !ok) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
