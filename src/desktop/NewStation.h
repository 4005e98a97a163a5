#pragma once
// Started from the desktop menu with no station folder: the operator is told where the station
// looked and may have the folder made, with a fresh database, on the spot.
#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

#include "toolkit/MessageBoxes.h"

class QDoubleSpinBox;
class QSpinBox;

namespace desktop {

/// What a fresh station database is made with.
struct NewStationSettings {
  double interval = 5;  ///< polling interval in seconds
  int units = 10;       ///< detector units, 1..99
};

/// Asks the polling interval and the unit count.
class NewStationDialog : public QDialog {
 public:
  explicit NewStationDialog(const QString& folder, QWidget* parent = nullptr);
  NewStationSettings settings() const;

 private:
  QDoubleSpinBox* interval_;
  QSpinBox* units_;
};

/// Makes `folder` (and its parents) and a fresh db1.mdb in it with cellstation-make-db, the
/// same program an operator runs by hand (found beside this program, then on PATH). Returns
/// an empty text on success, otherwise what went wrong.
QString makeStation(const QString& folder, const NewStationSettings& settings);

/// The offer: a box naming `folder` and asking whether to make it; on Yes, `ask` (the dialog
/// above, in the station) for the settings, then makeStation. A failure is shown in an error
/// box. Returns true when the folder with its database now exists.
bool offerNewStation(toolkit::MessageBoxes& boxes, const QString& folder,
                     const std::function<std::optional<NewStationSettings>()>& ask);

struct StartUp;

/// With the toolkit running: when `start` names a missing station folder, offers to make it
/// (offerNewStation with the dialog) and enters it. Returns the exit code when the station
/// ends here (the offer declined or failed: 1), nothing when it goes on.
std::optional<int> settleMissingStation(StartUp& start, toolkit::MessageBoxes& boxes);

}  // namespace desktop
