#include "discharge/Report.h"

#include <QDateTime>
#include <QFile>
#include <QPainterPath>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>

namespace discharge {

namespace {

const QString kFace = QStringLiteral("Times New Roman");
constexpr double kLeft = 0.5;  // inches from the paper's left edge
constexpr int kHeaderShade = 15;
constexpr int kWeakShade = 30;

// The table: two halves side by side, six columns each.
constexpr double kColumnWidths[6] = {0.45, 0.55, 0.55, 0.55, 0.8, 0.45};
constexpr double kHalfGap = 0.3;

double halfWidth() {
  double w = 0;
  for (double c : kColumnWidths) w += c;
  return w;
}

/// The next line goes to a new page: the section ends where the cursor stands.
void newPage(PageWriter& w) {
  const double bottom = w.sectionBottom();
  w.setSectionBottom(w.lineTop());
  w.print(QString());
  w.setSectionBottom(bottom);
}

/// One line of loose text from the left margin.
void textLine(PageWriter& w, const QString& text) {
  w.clearTabs();
  w.setTab(kLeft, PageWriter::Justify::Left, w.paper().width() - 2 * kLeft, 0, PageWriter::FrameNone, 0);
  w.printLine(QLatin1Char('\t') + text);
}

/// Volts with two decimals (the cells' 10 mV steps), three where the value has a third.
QString volts(int mv) {
  const int a = mv < 0 ? -mv : mv;
  const QString frac = a % 10 ? QStringLiteral("%1").arg(a % 1000, 3, 10, QLatin1Char('0'))
                              : QStringLiteral("%1").arg(a % 1000 / 10, 2, 10, QLatin1Char('0'));
  return QStringLiteral("%1%2.%3").arg(mv < 0 ? QStringLiteral("-") : QString()).arg(a / 1000).arg(frac);
}

void tableLine(PageWriter& w, const std::vector<QStringList>& halves, const std::vector<int>& shades) {
  w.clearTabs();
  QString text;
  for (std::size_t h = 0; h < halves.size(); ++h) {
    double left = kLeft + static_cast<double>(h) * (halfWidth() + kHalfGap);
    for (int c = 0; c < 6; ++c) {
      w.setTab(left, PageWriter::Justify::Center, kColumnWidths[c], 0.02, PageWriter::FrameAll, shades[h]);
      left += kColumnWidths[c];
      text += QLatin1Char('\t') + halves[h][c];
    }
  }
  w.printLine(text);
}

QStringList cellFields(const CellJudgement& c) {
  return {QString::number(c.cell), volts(c.startMv), volts(c.minMv), volts(c.endMv),
          c.crossedMs ? durationText(*c.crossedMs) : QStringLiteral("未到"), QString::number(c.rank)};
}

struct Series {
  QString name;
  QColor color;
  std::vector<QPointF> points;  // ms from the start, volts
};

/// At most two points (the low and the high, in time order) per bucket of the chart's width:
/// the curve looks the same at the page's resolution, whatever the sample count.
template <typename Value>
Series sampled(const Recording& r, const QString& name, const QColor& color, Value value, int buckets) {
  Series s{name, color, {}};
  const qint64 start = r.record.startMs;
  const qint64 span = std::max<qint64>(1, (r.times.empty() ? 0 : r.times.back()) - start);
  int bucket = -1;
  std::size_t lo = 0, hi = 0;
  auto flush = [&] {
    if (bucket < 0) return;
    const std::size_t a = std::min(lo, hi), b = std::max(lo, hi);
    s.points.emplace_back(static_cast<double>(r.times[a] - start), value(a) / 1000.0);
    if (b != a) s.points.emplace_back(static_cast<double>(r.times[b] - start), value(b) / 1000.0);
  };
  for (std::size_t i = 0; i < r.size(); ++i) {
    const int v = value(i);
    if (v < 0) continue;
    const int at = static_cast<int>((r.times[i] - start) * buckets / span);
    if (at != bucket) {
      flush();
      bucket = at;
      lo = hi = i;
    } else {
      if (v < value(lo)) lo = i;
      if (v > value(hi)) hi = i;
    }
  }
  flush();
  return s;
}

/// The time axis: ticks a round step apart (10 s to 6 h, at most six intervals over the span),
/// labelled h:mm, or h:mm:ss when the step is under a minute.
struct TimeTicks {
  qint64 stepMs = 60000;
  bool seconds = false;
};

TimeTicks timeTicks(qint64 spanMs) {
  static constexpr qint64 kSteps[] = {10000,  15000,  30000,   60000,   120000,  300000,  600000,
                                      900000, 1800000, 3600000, 7200000, 10800000, 21600000};
  TimeTicks t;
  t.stepMs = kSteps[std::size(kSteps) - 1];
  for (const qint64 step : kSteps)
    if (spanMs <= step * 6) {
      t.stepMs = step;
      break;
    }
  while (spanMs > t.stepMs * 6) t.stepMs *= 2;
  t.seconds = t.stepMs < 60000;
  return t;
}

QString clockText(qint64 ms, bool seconds) {
  if (seconds) return durationText(ms);
  const qint64 m = ms / 60000;
  return QStringLiteral("%1:%2").arg(m / 60).arg(m % 60, 2, 10, QLatin1Char('0'));
}

/// A chart in the box (inches): frame, grid with the volts and the time from the start, the
/// series and an optional dashed reference line.
void drawChart(PageWriter& w, const QRectF& inches, const QString& title, qint64 spanMs, const std::vector<Series>& series,
               std::optional<double> reference, int decimals) {
  QPainter& p = w.painter();
  const double dx = p.device()->logicalDpiX(), dy = p.device()->logicalDpiY();
  const QRectF box(inches.left() * dx, inches.top() * dy, inches.width() * dx, inches.height() * dy);
  double lo = reference.value_or(1e9), hi = reference.value_or(-1e9);
  for (const Series& s : series)
    for (const QPointF& pt : s.points) {
      lo = std::min(lo, pt.y());
      hi = std::max(hi, pt.y());
    }
  if (lo > hi) lo = hi = 0;
  const double pad = std::max((hi - lo) * 0.08, 0.05);
  lo -= pad;
  hi += pad;
  const double span = static_cast<double>(std::max<qint64>(spanMs, 1));
  auto at = [&](double ms, double v) {
    return QPointF(box.left() + ms / span * box.width(), box.bottom() - (v - lo) / (hi - lo) * box.height());
  };

  p.save();
  QFont font(kFace);
  font.setPointSizeF(7);
  p.setFont(font);
  const double pen = std::max(1.0, dx / 150);
  p.setPen(QPen(Qt::black, pen));
  p.drawRect(box);
  p.drawText(QRectF(box.left(), box.top() - 0.22 * dy, box.width(), 0.2 * dy), Qt::AlignLeft | Qt::AlignBottom, title);
  for (int i = 0; i <= 4; ++i) {
    const double v = lo + (hi - lo) * i / 4;
    const QPointF y = at(0, v);
    p.setPen(QPen(QColor(200, 200, 200), pen));
    p.drawLine(QPointF(box.left(), y.y()), QPointF(box.right(), y.y()));
    p.setPen(QPen(Qt::black, pen));
    p.drawText(QRectF(box.left() - 0.5 * dx, y.y() - 0.08 * dy, 0.45 * dx, 0.16 * dy), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(v, 'f', decimals));
  }
  const TimeTicks ticks = timeTicks(spanMs);
  for (qint64 ms = 0; ms <= spanMs; ms += ticks.stepMs) {
    const QPointF x = at(static_cast<double>(ms), lo);
    p.drawText(QRectF(x.x() - 0.4 * dx, box.bottom() + 0.03 * dy, 0.8 * dx, 0.16 * dy), Qt::AlignHCenter | Qt::AlignTop,
               clockText(ms, ticks.seconds));
  }
  p.setClipRect(box);
  if (reference) {
    p.setPen(QPen(QColor(160, 0, 0), pen, Qt::DashLine));
    p.drawLine(at(0, *reference), at(span, *reference));
  }
  for (const Series& s : series) {
    if (s.points.empty()) continue;
    QPainterPath path(at(s.points.front().x(), s.points.front().y()));
    for (const QPointF& pt : s.points) path.lineTo(at(pt.x(), pt.y()));
    p.setPen(QPen(s.color, 2 * pen));
    p.drawPath(path);
  }
  p.setClipping(false);
  // The legend over the chart's top right corner, one name per series in its colour.
  double x = box.right();
  for (auto it = series.rbegin(); it != series.rend(); ++it) {
    const double width = p.fontMetrics().horizontalAdvance(it->name) + 0.1 * dx;
    x -= width;
    p.setPen(it->color);
    p.drawText(QRectF(x, box.top() - 0.22 * dy, width, 0.2 * dy), Qt::AlignLeft | Qt::AlignBottom, it->name);
  }
  p.restore();
}

const QColor kCurveColors[5] = {QColor(200, 0, 0), QColor(230, 120, 0), QColor(0, 110, 200), QColor(0, 150, 60),
                                QColor(130, 0, 160)};

}  // namespace

void writeReport(PageWriter& w, const QString& station, const Recording& r, const Judgement& j) {
  const DischargeRecord& rec = r.record;
  beginTitledPage(w, kFace, kLeft, QStringLiteral("第%1台检测仪放电测试报告").arg(rec.unit));
  textLine(w, QStringLiteral("站点：%1    检测仪：第%2台，%3节").arg(station).arg(rec.unit).arg(r.cells));
  textLine(w, QStringLiteral("开始：%1    结束：%2    历时：%3")
                  .arg(reportTime(rec.startMs), rec.endMs ? reportTime(*rec.endMs) : QStringLiteral("（进行中）"),
                       durationText(j.durationMs)));
  textLine(w, QStringLiteral("开始方式：%1    结束方式：%2")
                  .arg(text(rec.startedBy), rec.endedBy ? text(*rec.endedBy) : QStringLiteral("（进行中）")));
  // Judged from the real start all the same; the samples of the pause are missing.
  for (const Restart& x : r.restarts)
    textLine(w, QStringLiteral("监测程序重新启动：%1 后中断，%2 起继续记录（%3 无样本）")
                    .arg(reportTime(x.stoppedMs), reportTime(x.resumedMs), durationText(x.resumedMs - x.stoppedMs)));
  textLine(w, QString());
  w.setBold(true);
  textLine(w, QStringLiteral("结论"));
  w.setBold(false);
  textLine(w, QStringLiteral("终止电压：%1 V/节    样本：%2 个    总电压 起始 %3 V，最低 %4 V，终了 %5 V")
                  .arg(volts(j.endVoltageMv))
                  .arg(r.size())
                  .arg(volts(j.startTotalMv), volts(j.minTotalMv), volts(j.endTotalMv)));
  textLine(w, j.firstCrossedMs ? QStringLiteral("首个到达终止电压的单体：第%1节，用时 %2")
                                     .arg(j.firstCrossedCell)
                                     .arg(durationText(*j.firstCrossedMs))
                               : QStringLiteral("放电期间无单体到达终止电压"));
  QString capacity = QStringLiteral("未填写额定放电时间");
  if (j.capacity && rec.ratedMinutes)
    capacity = QStringLiteral("额定放电时间 %1 分钟，容量 %2%3%")
                   .arg(*rec.ratedMinutes)
                   .arg(j.capacityAtLeast ? QStringLiteral("≥ ") : QString())
                   .arg(QString::number(*j.capacity * 100, 'f', 0));
  textLine(w, capacity);
  QStringList weakest;
  QStringList weak;
  std::vector<const CellJudgement*> byRank;
  for (const CellJudgement& c : j.cells) byRank.push_back(&c);
  std::sort(byRank.begin(), byRank.end(), [](auto* a, auto* b) { return a->rank < b->rank; });
  for (const CellJudgement* c : byRank) {
    if (weakest.size() < 5) weakest << QString::number(c->cell);
    if (c->weak) weak << QString::number(c->cell);
  }
  textLine(w, QStringLiteral("最弱的单体（由弱到强）：%1").arg(weakest.join(QStringLiteral("、"))));
  textLine(w, weak.isEmpty() ? QStringLiteral("落后单体：无")
                             : QStringLiteral("落后单体（底纹标出）：%1").arg(weak.join(QStringLiteral("、"))));
  textLine(w, QString());

  // The table: cells 1..h on the left, the rest on the right.
  w.setFont(kFace, 8);
  const QStringList head = {QStringLiteral("节号"), QStringLiteral("起始V"), QStringLiteral("最低V"),
                            QStringLiteral("终了V"), QStringLiteral("到终止电压"), QStringLiteral("排名")};
  const std::size_t n = j.cells.size();
  const std::size_t half = (n + 1) / 2;
  tableLine(w, n > 1 ? std::vector<QStringList>{head, head} : std::vector<QStringList>{head},
            {kHeaderShade, kHeaderShade});
  for (std::size_t i = 0; i < half; ++i) {
    std::vector<QStringList> halves{cellFields(j.cells[i])};
    std::vector<int> shades{j.cells[i].weak ? kWeakShade : 0};
    if (i + half < n) {
      halves.push_back(cellFields(j.cells[i + half]));
      shades.push_back(j.cells[i + half].weak ? kWeakShade : 0);
    }
    tableLine(w, halves, shades);
  }

  // Page 2: the curves.
  newPage(w);
  w.setFont(kFace, 12);
  w.setBold(true);
  const qint64 span = r.times.empty() ? 0 : r.times.back() - rec.startMs;
  textLine(w, QStringLiteral("第%1台放电曲线（横轴：自放电开始的时间 %2）")
                  .arg(rec.unit)
                  .arg(timeTicks(span).seconds ? QStringLiteral("时:分:秒") : QStringLiteral("时:分")));
  w.setBold(false);
  const double width = w.paper().width() - 2 * kLeft - 0.5;
  const int buckets = 400;
  std::vector<Series> total{sampled(r, QStringLiteral("总电压"), Qt::black, [&](std::size_t i) { return r.totals[i]; }, buckets)};
  const double top = w.lineTop() + 0.4;
  drawChart(w, QRectF(kLeft + 0.5, top, width, 3.6), QStringLiteral("总电压（V）"), span, total, std::nullopt, 1);
  std::vector<Series> cells;
  for (std::size_t i = 0; i < j.weakestFirst.size() && i < 5; ++i) {
    const int k = j.weakestFirst[i];
    cells.push_back(sampled(r, QStringLiteral("第%1节").arg(k), kCurveColors[i], [&](std::size_t s) { return r.cell(s, k); }, buckets));
  }
  drawChart(w, QRectF(kLeft + 0.5, top + 4.3, width, 3.6),
            QStringLiteral("最弱的五个单体（V），虚线为终止电压 %1 V").arg(volts(j.endVoltageMv)), span, cells,
            j.endVoltageMv / 1000.0, 2);
}

void writeReportPdf(const QString& path, const QString& station, const Recording& r, const Judgement& j) {
  QPdfWriter pdf(path);
  pdf.setPageSize(QPageSize(QPageSize::Letter));
  pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
  pdf.setResolution(300);
  pdf.setTitle(QStringLiteral("第%1台检测仪放电测试报告").arg(r.record.unit));
  QPainter painter;
  if (!painter.begin(&pdf)) throw std::runtime_error(QStringLiteral("无法写入 %1").arg(path).toStdString());
  PageWriter w(painter, QSizeF(8.5, 11));
  w.onNewPage = [&] { pdf.newPage(); };
  writeReport(w, station, r, j);
  painter.end();
}

}  // namespace discharge
