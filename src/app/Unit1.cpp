#include "app/Unit1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>

#include "comm/TComm.h"
#include "report/ChartPrintPreview.h"
#include "report/RvSystem.h"
#include "desktop/PortAccess.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/AutoSizeLabel.h"
#include "toolkit/Colors.h"
#include "toolkit/Fonts.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/PollTimer.h"

namespace {

QFrame* panel(QWidget* parent, int x, int y, int w, int h) {
  auto* f = new QFrame(parent);
  f->setFrameStyle(QFrame::Panel | QFrame::Raised);
  f->setLineWidth(1);
  f->setGeometry(x, y, w, h);
  return f;
}

// A label sized to its text, in the labels' font unless given another.
toolkit::AutoSizeLabel* label(QWidget* parent, int x, int y, const QString& text,
                              const QFont& font = toolkit::songFont(14, true)) {
  return toolkit::fixedLabel(parent, x, y, text, font);
}

QPushButton* flatButton(QWidget* parent, int x, int y, int w, int h, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setFlat(true);
  b->setGeometry(x, y, w, h);
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

}  // namespace

TForm1::TForm1(toolkit::MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      boxes_(boxes),
      guard_(boxes, this) {
  const QString point = QLocale::system().decimalPoint();
  if (point.size() == 1 && point.at(0).unicode() < 0x80) decimalSeparator_ = point.at(0).toLatin1();

  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("测电压上位机显示"));
  setFixedSize(751, 560);
  setFont(toolkit::formFont());
  toolkit::setPanelColor(this, toolkit::clBtnFace());
  createControls();
  wireEvents();
}

TForm1::~TForm1() = default;

void TForm1::createControls() {
  // Top bar
  Panel1 = panel(this, 0, 0, 753, 49);
  toolkit::setPanelColor(Panel1, toolkit::clRed());
  Label4 = label(Panel1, 14, 22, QStringLiteral("间隔秒数： "));
  Edit1 = new QLineEdit(Panel1);
  Edit1->setGeometry(80, 16, 41, 21);
  SpeedButton1 = flatButton(Panel1, 128, 16, 41, 22, QStringLiteral("开始"));
  Label1 = label(Panel1, 192, 22, QStringLiteral("共"));
  SpinEdit1 = new toolkit::ArrowSpinBox(Panel1);
  SpinEdit1->setGeometry(216, 16, 41, 22);
  SpinEdit1->setRange(1, 99);
  SpinEdit1->setValue(99);
  Label2 = label(Panel1, 264, 22, QStringLiteral("台检测仪，下表为第       "));
  SpinEdit2 = new toolkit::ArrowSpinBox(Panel1);
  SpinEdit2->setGeometry(400, 16, 41, 22);
  SpinEdit2->setRange(1, 99);
  SpinEdit2->setValue(1);
  Label3 = label(Panel1, 448, 22, QStringLiteral("台的数据     "));
  SpeedButton4 = flatButton(Panel1, 520, 13, 81, 22, QStringLiteral("清空数据"));
  SpeedButton2 = flatButton(Panel1, 614, 13, 57, 22, QStringLiteral("打印"));
  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogHelpButton), QStringLiteral("帮助"), Panel1);
  BitBtn1->setGeometry(684, 13, 57, 25);
  BitBtn1->setFocusPolicy(Qt::NoFocus);
  // SpinEdit2 sits over the trailing blanks of Label2.
  SpinEdit2->raise();

  // Cell tables
  static constexpr int lefts[6] = {0, 124, 248, 374, 500, 624};
  for (int t = 0; t < 6; ++t) {
    auto* grid = new toolkit::KeyValueGrid(QStringLiteral("      序号"), QStringLiteral("    电压V"), 18, this);
    grid->setGeometry(lefts[t], 48, 129, 478);
    grid->setObjectName(QStringLiteral("ValueListEditor%1").arg(t + 1));
    cellTables_[static_cast<std::size_t>(t)] = grid;
  }
  ValueListEditor1 = cellTables_[0];
  ValueListEditor2 = cellTables_[1];
  ValueListEditor3 = cellTables_[2];
  ValueListEditor4 = cellTables_[3];
  ValueListEditor5 = cellTables_[4];
  ValueListEditor6 = cellTables_[5];
  // The top bar overlaps the tables' first pixel row; it stays in front, as in the layout.
  Panel1->raise();

  // Bottom bar
  Panel2 = panel(this, 0, 525, 769, 34);
  Label5 = label(Panel2, 14, 12, QStringLiteral("总电压： "));
  measureV = label(Panel2, 70, 12, QStringLiteral(" "));
  Label8 = label(Panel2, 126, 12, QString());
  toolkit::setPanelColor(Label8, toolkit::clRed());
  // No text colour of its own: white reads best on the red ground.
  toolkit::setTextColor(Label8, Qt::white);
  Label8->hide();
  Label9 = label(Panel2, 319, 12, QString(), toolkit::songFont(13, true));
  toolkit::setTextColor(Label9, toolkit::clRed());
  Label6 = label(Panel2, 398, 12, QStringLiteral("注：双击“001-108”序号或“总电压”看历史曲线  "));

  // History view, hidden until opened
  history = new history::HistoryView(this, store, [this] { return SpinEdit2->value(); });
  Panel3 = history->Panel3;
  Label7 = history->Label7;
  ComboBox1 = history->ComboBox1;
  SpeedButton3 = history->SpeedButton3;
  DBChart1 = history->DBChart1;

  // Components
  polling = new acquisition::PollingController(guard_, this);
  Timer1 = polling->Timer1;
  Comm1 = polling->Comm1.get();
  RvSystem1 = std::make_unique<report::TRvSystem>();
  RvSystem1->OnPrint = [this](report::PageWriter& Sender) { RvSystem1Print(Sender); };
  chartPreview = std::make_unique<report::QtChartPreviewRunner>();
}

toolkit::KeyValueGrid* TForm1::cellTable(int t) const {
  if (t < 1 || t > 6) return nullptr;
  return cellTables_[static_cast<std::size_t>(t - 1)];
}

void TForm1::wireEvents() {
  connect(BitBtn1, &QPushButton::clicked, this, guard_.wrap([this] { BitBtn1Click(); }));
  connect(SpeedButton1, &QPushButton::clicked, this, guard_.wrap([this] {
    try {
      SpeedButton1Click();
    } catch (const comm::ECommsError& e) {
      // The box shows the component's fixed text; the log says why the port would not open.
      desktop::logPortOpenFailure(Comm1->CommName(), e.what());
      throw;
    }
  }));
  connect(Timer1, &toolkit::PollTimer::tick, this, guard_.wrap([this] { Timer1Timer(); }));
  // What the polling shows in the window. Connected before any feature attaches, so the
  // window has drawn a reply before a feature marks it.
  connect(polling, &acquisition::PollingController::replyHandled, this,
          [this](const acquisition::ReplyOutcome& outcome, int) { replyShown(outcome); });
  connect(polling, &acquisition::PollingController::unitSilent, this, [this](int unit) {
    Label8->setText(QString::number(unit) + QStringLiteral("号测试仪信号未返回"));
    Label8->setVisible(true);
  });
  connect(polling, &acquisition::PollingController::cycleCompleteWithoutSilence, this,
          [this] { Label8->setText(QString()); });
  connect(polling, &acquisition::PollingController::requestSent, this,
          [this](int unit, bool) { Label9->setText(QStringLiteral("No.") + QString::number(unit)); });
  connect(SpinEdit2, &QSpinBox::valueChanged, this, guard_.wrap([this] { SpinEdit2Change(); }));
  connect(SpeedButton4, &QPushButton::clicked, this, guard_.wrap([this] { SpeedButton4Click(); }));
  for (auto* grid : cellTables_)
    connect(grid, &toolkit::KeyValueGrid::dblClick, this,
            guard_.wrap([this, grid] { ValueListEditor1DblClick(grid); }));
  for (QLabel* l : {Label5, measureV, Label8}) l->installEventFilter(this);
  connect(ComboBox1, &QComboBox::currentTextChanged, this, guard_.wrap([this] { ComboBox1Change(); }));
  connect(SpeedButton3, &QPushButton::clicked, this, guard_.wrap([this] { SpeedButton3Click(); }));
  connect(SpeedButton2, &QPushButton::clicked, this, guard_.wrap([this] { SpeedButton2Click(); }));
  wireStore();
  Comm1->SetOnReceiveData([this](comm::TComm* Sender, const std::uint8_t* Buffer, std::uint16_t BufferLength) {
    guard_.run([&] { Comm1ReceiveData(Sender, Buffer, BufferLength); });
  });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick &&
      (watched == Label5 || watched == measureV || watched == Label8)) {
    guard_.run([this] { measureVDblClick(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
  guard_.run([this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  guard_.run([this] { FormClose(); });
  event->accept();
}

void TForm1::FormShow() {
  ConnectAndLoadSettings();
  for (int t = 1; t <= 6; ++t)
    for (int r = 1; r <= 18; ++r) cellTable(t)->setKey(r, QString::number(acquisition::cellAt(t, r)));
}

void TForm1::FormClose() {
  // Closing while polling is a stop like any other: it is announced, so the event record and
  // the broker hear that polling ended.
  polling->stop();
}

void TForm1::BitBtn1Click() {
  boxes_.information(this, QStringLiteral("Information"), QStringLiteral("技术支持：") + QStringLiteral("400-820-6655"));
}
