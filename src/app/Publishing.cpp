#include "app/Publishing.h"

#include <QTimer>

#include "app/Unit1.h"

std::unique_ptr<publish::Publisher> attachPublishing(TForm1& form) {
  publish::PublishStart start = publish::startPublishing(QString::fromLatin1(publish::kSettingsFileName));
  if (!start.problem.isEmpty()) {
    const QString text = QStringLiteral("MQTT 发布设置文件有误，本次运行不发布数据：\n") + start.problem;
    // After the window is up, so the station starts as it always does.
    QTimer::singleShot(0, &form, [&form, text] { form.boxes().error(&form, text); });
    return nullptr;
  }
  publish::Publisher* p = start.publisher.get();
  if (!p) return nullptr;
  QObject::connect(&form, &TForm1::replyHandled, p,
                   [p, &form](const acquisition::ReplyOutcome& outcome, int) { p->publishReply(outcome, form); });
  QObject::connect(&form, &TForm1::pollingStarted, p, [p] { p->publishPolling(true); });
  QObject::connect(&form, &TForm1::pollingStopped, p, [p] { p->publishPolling(false); });
  return std::move(start.publisher);
}
