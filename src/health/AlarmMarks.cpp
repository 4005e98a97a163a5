#include "health/AlarmMarks.h"

#include <QLabel>
#include <algorithm>
#include <QPalette>

#include "health/core/AlarmTracker.h"
#include "health/core/LineCounts.h"
#include "toolkit/Fonts.h"
#include "toolkit/KeyValueGrid.h"

namespace health {

namespace {

constexpr std::uint8_t kAlarmMark = 1;
constexpr std::uint8_t kOfflineMark = 2;
/// Units named one by one in the notice before the rest are only counted.
constexpr int kNamedUnits = 12;

QColor alarmGround() { return QColor(255, 0, 0); }
QColor alarmText() { return QColor(255, 255, 255); }
QColor offlineText() { return QColor(128, 128, 128); }
/// Grey that still reads on the red ground.
QColor offlineOnAlarmText() { return QColor(255, 200, 200); }

QFont noticeFont() { return toolkit::songFont(13, true); }

QString unitList(const std::vector<int>& units) {
  QStringList names;
  for (std::size_t i = 0; i < units.size() && i < kNamedUnits; ++i) names << QStringLiteral("%1号").arg(units[i]);
  QString text = names.join(QStringLiteral("、"));
  if (units.size() > kNamedUnits) text += QStringLiteral(" 等%1台").arg(units.size());
  return text;
}

void markItem(QTableWidgetItem* item, const QColor* ground, const QColor* text) {
  if (!item) return;
  // Unmarked rows carry no colour data at all, exactly as the tables were made.
  item->setData(Qt::BackgroundRole, ground ? QVariant(QBrush(*ground)) : QVariant());
  item->setData(Qt::ForegroundRole, text ? QVariant(QBrush(*text)) : QVariant());
}

}  // namespace

AlarmMarks::AlarmMarks(const StationView& view, const AlarmTracker& alarms, const LineCounts& counts)
    : view_(view), alarms_(alarms), counts_(counts) {
  notice_ = new QLabel(view_.window);
  notice_->setObjectName(QStringLiteral("healthNotice"));
  notice_->setFont(noticeFont());
  QPalette p = notice_->palette();
  p.setColor(QPalette::WindowText, alarmGround());
  notice_->setPalette(p);
  // The empty strip below the 18th row of the six tables: a double click there still reaches
  // the table beneath.
  notice_->setGeometry(6, 507, 740, 17);
  notice_->setAttribute(Qt::WA_TransparentForMouseEvents);
  if (view_.keepUnder) notice_->stackUnder(view_.keepUnder);
  notice_->hide();

  totalPalette_ = std::make_unique<QPalette>(view_.total->palette());
  totalAutoFill_ = view_.total->autoFillBackground();

}

AlarmMarks::~AlarmMarks() = default;

void AlarmMarks::paintShownUnit() {
  const int u = view_.shownUnit();
  if (!acquisition::IndexedArray<int, 1, acquisition::kUnits>::contains(u)) return;
  const acquisition::MeasurementTables& m = *view_.measurements;
  const bool offline = counts_.offline(u);
  const bool anyAlarm = alarms_.activeCount(u) > 0;
  for (std::size_t t = 0; t < view_.tables.size(); ++t) {
    toolkit::KeyValueGrid* grid = view_.tables[t];
    std::vector<std::uint8_t>& marked = marked_[t];
    const int rows = grid->dataRowCount();
    if (marked.size() != static_cast<std::size_t>(rows)) marked.resize(static_cast<std::size_t>(rows), 0);
    for (int r = 1; r <= rows; ++r) {
      std::uint8_t want = offline ? kOfflineMark : 0;
      if (anyAlarm) {
        // Rows are found by their key, as the live display finds them.
        bool ok = false;
        const int k = grid->key(r).toInt(&ok);
        if (ok && k >= 1 && k <= m.CellCount[u] && alarms_.cellInAlarm(u, k)) want |= kAlarmMark;
      }
      std::uint8_t& have = marked[static_cast<std::size_t>(r - 1)];
      if (want == have) continue;
      have = want;
      const QColor ground = alarmGround(), white = alarmText(), grey = offlineText(), pale = offlineOnAlarmText();
      const bool alarm = want & kAlarmMark;
      const QColor* valueText = (want & kOfflineMark) ? (alarm ? &pale : &grey) : (alarm ? &white : nullptr);
      markItem(grid->item(r - 1, 0), alarm ? &ground : nullptr, alarm ? &white : nullptr);
      markItem(grid->item(r - 1, 1), alarm ? &ground : nullptr, valueText);
    }
  }
  paintTotal(u);
}

void AlarmMarks::paintTotal(int u) {
  const int want = (counts_.offline(u) ? kOfflineMark : 0) | (alarms_.totalInAlarm(u) ? kAlarmMark : 0);
  if (want == totalMarks_) return;
  totalMarks_ = want;
  QLabel* total = view_.total;
  if (!want) {
    total->setPalette(*totalPalette_);
    total->setAutoFillBackground(totalAutoFill_);
    return;
  }
  QPalette p = *totalPalette_;
  const bool alarm = want & kAlarmMark;
  if (alarm) p.setColor(QPalette::Window, alarmGround());
  p.setColor(QPalette::WindowText, (want & kOfflineMark) ? (alarm ? offlineOnAlarmText() : offlineText()) : alarmText());
  total->setPalette(p);
  total->setAutoFillBackground(alarm || totalAutoFill_);
}

void AlarmMarks::setNotice(const QString& key, const QString& text) {
  auto it = std::find_if(notices_.begin(), notices_.end(), [&](const auto& n) { return n.first == key; });
  if (text.isEmpty()) {
    if (it == notices_.end()) return;
    notices_.erase(it);
  } else if (it == notices_.end()) {
    notices_.emplace_back(key, text);
  } else {
    if (it->second == text) return;
    it->second = text;
  }
  updateNotice();
}

bool AlarmMarks::hasNotice(const QString& key) const {
  return std::any_of(notices_.begin(), notices_.end(), [&](const auto& n) { return n.first == key; });
}

void AlarmMarks::updateNotice() {
  std::vector<int> offline;
  for (int u = 1; u <= acquisition::kUnits; ++u)
    if (counts_.offline(u)) offline.push_back(u);
  const std::vector<int> alarmed = alarms_.unitsInAlarm();
  QStringList parts;
  for (const auto& n : notices_) parts << n.second;
  QStringList units;
  if (!alarmed.empty()) units << QStringLiteral("报警：") + unitList(alarmed);
  if (!offline.empty()) units << QStringLiteral("离线：") + unitList(offline);
  if (!units.isEmpty()) parts << units.join(QStringLiteral("    ")) + QStringLiteral("    （右键“事件记录…”查看）");
  if (parts.isEmpty()) {
    notice_->hide();
    notice_->clear();
    return;
  }
  notice_->setText(parts.join(QStringLiteral("    ")));
  notice_->show();
}

}  // namespace health
