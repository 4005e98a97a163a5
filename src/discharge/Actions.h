#pragma once
// What the window's context menu does for discharge tests, in small pieces the app connects.
#include <QString>
#include <functional>

#include "discharge/ReportWriter.h"

namespace toolkit {
class MessageBoxes;
}

namespace discharge {

class Monitor;
class SettingsDialog;

/// Makes the dialog's OK parse the boxes, store the settings in db1.mdb and hand them to the
/// monitor; a refused value or a database error is shown through `boxes` and the dialog stays
/// open.
void takeSettingsFrom(SettingsDialog& dialog, Monitor& monitor, char decimalSeparator, toolkit::MessageBoxes& boxes);

/// The report body of record `id` for the report component (TRvSystem::OnPrint): the recording
/// is loaded and judged now, against the end voltage in force when it began, and written when
/// the body is called. Throws ArchiveError.
std::function<void(PageWriter&)> reportBody(const QString& archiveFile, qint64 id, const QString& station);

}  // namespace discharge
