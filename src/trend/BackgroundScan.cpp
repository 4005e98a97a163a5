#include "trend/BackgroundScan.h"

#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <exception>
#include <thread>

namespace trend {

namespace {

// How often the progress window is brought up to date: often enough to look alive, rarely
// enough to cost nothing.
constexpr int kUpdateMs = 50;

void update(QProgressDialog& progress, const ScanControl& control) {
  // The bar counts in thousands: a year's export may exceed an int's rows.
  const qint64 total = std::max(control.total(), control.done());
  progress.setMaximum(int(std::clamp<qint64>(total / 1000 + 1, 1, INT_MAX)));
  progress.setValue(int(std::min<qint64>(control.done() / 1000, progress.maximum())));
}

}  // namespace

bool runInBackground(QWidget* parent, const QString& title, const QString& label,
                     const std::function<void(ScanControl&)>& work, const std::function<void(QProgressDialog&)>& shown) {
  QProgressDialog progress(label, QStringLiteral("取消"), 0, 1, parent);
  progress.setWindowTitle(title);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setAutoReset(false);
  progress.setAutoClose(false);
  progress.setValue(0);

  ScanControl control;
  QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&control] { control.cancel(); });
  if (shown) shown(progress);
  if (progress.wasCanceled()) control.cancel();

  QEventLoop loop;
  std::exception_ptr failure;
  std::atomic<bool> ended{false};
  QTimer ticks;
  ticks.setInterval(kUpdateMs);
  QObject::connect(&ticks, &QTimer::timeout, &progress, [&] {
    update(progress, control);
    if (shown) shown(progress);
    if (progress.wasCanceled()) control.cancel();
  });
  std::thread worker([&] {
    try {
      work(control);
    } catch (...) {
      failure = std::current_exception();
    }
    ended.store(true);
    // Queued: the loop may not have begun yet, and it lives on the window's thread.
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  ticks.start();
  // The window's events go on while the scan runs: this loop ends when the scan has.
  while (!ended.load()) loop.exec();
  worker.join();
  ticks.stop();
  // Read before the window closes: closing it counts as 取消 to QProgressDialog.
  const bool complete = !control.cancelled();
  progress.close();
  if (failure) std::rethrow_exception(failure);
  return complete;
}

}  // namespace trend
