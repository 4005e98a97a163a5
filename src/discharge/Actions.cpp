#include "discharge/Actions.h"

#include <memory>

#include "discharge/Report.h"
#include "discharge/SettingsDialog.h"
#include "discharge/core/Archive.h"
#include "discharge/core/Judgement.h"
#include "discharge/core/Monitor.h"
#include "toolkit/MessageBoxes.h"

namespace discharge {

void takeSettingsFrom(SettingsDialog& dialog, Monitor& monitor, char decimalSeparator, toolkit::MessageBoxes& boxes) {
  dialog.onAccept = [&dialog, &monitor, decimalSeparator, &boxes](const std::array<QString, kSettingCount>& texts) {
    try {
      monitor.applySettings(parseSettings(texts, decimalSeparator));
      return true;
    } catch (const std::exception& e) {
      boxes.error(&dialog, QString::fromUtf8(e.what()));
      return false;
    }
  };
}

std::function<void(PageWriter&)> reportBody(const QString& archiveFile, qint64 id, const QString& station) {
  Archive archive(archiveFile);
  auto recording = std::make_shared<Recording>(archive.load(id));
  const int endMv = recording->record.endMv > 0 ? recording->record.endMv : Settings{}.endMv;
  auto judgement = std::make_shared<Judgement>(judge(*recording, endMv));
  return [recording, judgement, station](PageWriter& w) { writeReport(w, station, *recording, *judgement); };
}

}  // namespace discharge
