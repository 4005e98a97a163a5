#include "archive/core/BlockCodec.h"

#include <zstd.h>

#include <numeric>
#include <string>

namespace archive {

namespace {

constexpr quint64 kFormat = 1;

quint64 zigzag(qint64 v) { return (quint64(v) << 1) ^ quint64(v >> 63); }
qint64 unzigzag(quint64 u) { return qint64(u >> 1) ^ -qint64(u & 1); }

void putVarint(std::string& out, quint64 v) {
  while (v >= 0x80) {
    out.push_back(char((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out.push_back(char(v));
}

[[noreturn]] void damaged(const char* what) { throw ArchiveCorrupt(std::string("长期记录数据块损坏：") + what); }

class Reader {
 public:
  Reader(const char* p, std::size_t n) : p_(p), end_(p + n) {}
  quint64 varint() {
    quint64 v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (p_ >= end_) damaged("varint past the end");
      const auto b = static_cast<unsigned char>(*p_++);
      v |= quint64(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
    damaged("varint too long");
  }
  qint64 signedVarint() { return unzigzag(varint()); }
  const char* pos() const { return p_; }
  std::size_t left() const { return std::size_t(end_ - p_); }
  void skip(std::size_t n) {
    if (n > left()) damaged("column past the end");
    p_ += n;
  }

 private:
  const char* p_;
  const char* end_;
};

qint64 columnValue(const StoredRun& r, int column) {
  if (column == kTimeColumn) return r.timeMs;
  if (column == kCountColumn) return r.cellCount;
  return r.mv[std::size_t(column - 2)];
}

std::string decompress(const QByteArray& blob) {
  const unsigned long long size = ZSTD_getFrameContentSize(blob.constData(), std::size_t(blob.size()));
  if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN || size > (1u << 28)) damaged("no zstd frame");
  std::string out(std::size_t(size), '\0');
  const std::size_t got = ZSTD_decompress(out.data(), out.size(), blob.constData(), std::size_t(blob.size()));
  if (ZSTD_isError(got) || got != size) damaged("zstd");
  return out;
}

struct Layout {
  std::size_t runs = 0;
  std::array<qint64, kBlockColumns> step{};
  std::array<std::size_t, kBlockColumns> offset{};
  std::array<std::size_t, kBlockColumns> length{};
};

Layout readLayout(const std::string& raw, Reader& in) {
  if (in.varint() != kFormat) damaged("unknown format");
  Layout l;
  l.runs = std::size_t(in.varint());
  if (l.runs > (1u << 20)) damaged("run count");
  std::size_t at = 0;
  for (int c = 0; c < kBlockColumns; ++c) {
    l.step[std::size_t(c)] = qint64(in.varint());
    l.length[std::size_t(c)] = std::size_t(in.varint());
    l.offset[std::size_t(c)] = at;
    at += l.length[std::size_t(c)];
  }
  if (at != in.left()) damaged("column lengths");
  const std::size_t base = raw.size() - in.left();
  for (auto& o : l.offset) o += base;
  return l;
}

void decodeColumn(const std::string& raw, const Layout& l, int column, std::vector<qint64>& out) {
  const auto c = std::size_t(column);
  Reader in(raw.data() + l.offset[c], l.length[c]);
  out.resize(l.runs);
  qint64 v = 0;
  for (std::size_t i = 0; i < l.runs; ++i) {
    const qint64 d = in.signedVarint();
    v = i == 0 ? d : v + d * l.step[c];
    out[i] = v;
  }
}

}  // namespace

QByteArray encodeBlock(const std::vector<StoredRun>& runs, int level) {
  std::string header, body;
  putVarint(header, kFormat);
  putVarint(header, runs.size());
  for (int c = 0; c < kBlockColumns; ++c) {
    qint64 step = 0;
    for (std::size_t i = 1; i < runs.size(); ++i) {
      const qint64 d = columnValue(runs[i], c) - columnValue(runs[i - 1], c);
      step = std::gcd(step, d < 0 ? -d : d);
    }
    if (step == 0) step = 1;
    const std::size_t start = body.size();
    for (std::size_t i = 0; i < runs.size(); ++i)
      putVarint(body, zigzag(i == 0 ? columnValue(runs[0], c)
                                    : (columnValue(runs[i], c) - columnValue(runs[i - 1], c)) / step));
    putVarint(header, quint64(step));
    putVarint(header, body.size() - start);
  }
  const std::string raw = header + body;
  QByteArray out(qsizetype(ZSTD_compressBound(raw.size())), Qt::Uninitialized);
  const std::size_t n = ZSTD_compress(out.data(), std::size_t(out.size()), raw.data(), raw.size(), level);
  if (ZSTD_isError(n)) throw ArchiveError(std::string("长期记录压缩失败：") + ZSTD_getErrorName(n));
  out.resize(qsizetype(n));
  return out;
}

std::vector<StoredRun> decodeBlock(const QByteArray& blob) {
  const std::string raw = decompress(blob);
  Reader in(raw.data(), raw.size());
  const Layout l = readLayout(raw, in);
  std::vector<StoredRun> runs(l.runs);
  std::vector<qint64> col;
  for (int c = 0; c < kBlockColumns; ++c) {
    decodeColumn(raw, l, c, col);
    for (std::size_t i = 0; i < l.runs; ++i) {
      if (c == kTimeColumn) runs[i].timeMs = col[i];
      else if (c == kCountColumn) runs[i].cellCount = int(col[i]);
      else runs[i].mv[std::size_t(c - 2)] = col[i];
    }
  }
  return runs;
}

BlockColumn decodeBlockColumn(const QByteArray& blob, int valueIndex) {
  if (valueIndex < 0 || valueIndex >= kValues) throw ArchiveError("长期记录：没有这一列");
  const std::string raw = decompress(blob);
  Reader in(raw.data(), raw.size());
  const Layout l = readLayout(raw, in);
  BlockColumn out;
  decodeColumn(raw, l, kTimeColumn, out.times);
  decodeColumn(raw, l, kCountColumn, out.counts);
  decodeColumn(raw, l, valueColumn(valueIndex), out.values);
  return out;
}

QByteArray encodeRow(const StoredRun& run) {
  std::string out;
  putVarint(out, quint64(run.cellCount));
  for (qint64 v : run.mv) putVarint(out, zigzag(v));
  return QByteArray(out.data(), qsizetype(out.size()));
}

StoredRun decodeRow(qint64 timeMs, const QByteArray& row) {
  Reader in(row.constData(), std::size_t(row.size()));
  StoredRun r;
  r.timeMs = timeMs;
  const quint64 count = in.varint();
  if (count > quint64(kCells)) damaged("cell count");
  r.cellCount = int(count);
  for (auto& v : r.mv) v = in.signedVarint();
  return r;
}

}  // namespace archive
