#pragma once
// Collects the station's log lines of one category while it lives (any thread may log).
#include <QMessageLogContext>
#include <QString>
#include <QStringList>
#include <cstring>
#include <mutex>

class LogCapture {
 public:
  explicit LogCapture(const char* category) : category_(category) {
    instance() = this;
    previous_ = qInstallMessageHandler(&LogCapture::handle);
  }
  ~LogCapture() {
    qInstallMessageHandler(previous_);
    instance() = nullptr;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  /// Warnings (and worse) of the category, in order.
  QStringList warnings() const {
    std::lock_guard lock(mutex_);
    return warnings_;
  }
  QStringList all() const {
    std::lock_guard lock(mutex_);
    return all_;
  }
  /// How many warnings contain `text`.
  int countWarnings(const QString& text) const {
    int n = 0;
    for (const QString& w : warnings()) n += w.contains(text) ? 1 : 0;
    return n;
  }

 private:
  static LogCapture*& instance() {
    static LogCapture* capture = nullptr;
    return capture;
  }
  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    LogCapture* c = instance();
    if (!c || !context.category || std::strcmp(context.category, c->category_) != 0) return;
    std::lock_guard lock(c->mutex_);
    c->all_ << text;
    if (type != QtDebugMsg && type != QtInfoMsg) c->warnings_ << text;
  }

  const char* category_;
  QtMessageHandler previous_ = nullptr;
  mutable std::mutex mutex_;
  QStringList warnings_, all_;
};
