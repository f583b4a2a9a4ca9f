#include "ui/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QStatusBar>
#include <QStorageInfo>
#include <cmath>

#include "app/Settings.h"
#include "common/Text.h"
#include "common/Translate.h"
#include "ui/ConfDialog.h"
#include "ui/TimerWindow.h"
#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

constexpr int kTickMs = 100;
constexpr int kStatusEveryTicks = 10;
// Free space changes slowly, and asking for it reads the mount table once
// per channel: every tenth status line.
constexpr int kFreeSpaceEveryStatus = 10;
const QColor kRecordActive(0xc6, 0x28, 0x28);
const QColor kStopActive(0x45, 0x5a, 0x64);

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Free space of the disks that hold the channels' folders, once per disk.
QString FreeSpaceText(FrmMain& app) {
  QSet<QString> seen;
  QStringList parts;
  for (int ch = 0; ch <= app.settings().NumRec; ++ch) {
    const QStorageInfo disk(Q(app.recording().ChannelFolder(ch)));
    if (!disk.isValid() || seen.contains(disk.rootPath())) continue;
    seen.insert(disk.rootPath());
    parts << QString::asprintf("%.1f GB", static_cast<double>(disk.bytesAvailable()) / 1e9);
  }
  if (parts.isEmpty()) return {};
  return QCoreApplication::translate("kavon::ui::MainWindow", "空き ") + parts.join(", ");
}

}  // namespace

MainWindow::MainWindow(FrmMain& app, QWidget* parent)
    : QMainWindow(parent), app_(app), tpp_(TwipsPerPixel(this)), scale_(app.settings().SizeRate), placement_(app.store(), "") {
  setWindowTitle(kProductName);
  setFont(MakeFont(UiFace(app.settings().AltFont), 9 * scale_, false, tpp_));
  timers_ = new TimerWindow(app, this);
  BuildMenus();
  // The rows scroll when the screen is smaller than they need (a high
  // scale on a small screen); otherwise the window fits them.
  auto* scroll = new QScrollArea(this);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  auto* central = content_ = new QWidget(scroll);
  central->setAutoFillBackground(true);
  QPalette pal = central->palette();
  pal.setColor(QPalette::Window, QColor(0x26, 0x28, 0x2c));
  pal.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
  central->setPalette(pal);
  scroll->setPalette(pal);
  BuildRows(central);
  scroll->setWidget(central);
  setCentralWidget(scroll);
  status_ = new QLabel(this);
  status_->setTextFormat(Qt::RichText);
  statusBar()->addWidget(status_, 1);
  tickTimer_.setTimerType(Qt::PreciseTimer);
  tickTimer_.setInterval(kTickMs);
  connect(&tickTimer_, &QTimer::timeout, this, &MainWindow::TickOnce);
  Refresh();
  UpdateStatus();
}

void MainWindow::BuildMenus() {
  QAction* timer = menuBar()->addAction(tr("タイマー(&T)"));
  connect(timer, &QAction::triggered, this, [this] { timers_->ShowWindow(); });
  QAction* conf = menuBar()->addAction(tr("設定(&C)"));
  connect(conf, &QAction::triggered, this, [this] { OpenSettings(); });
}

void MainWindow::BuildRows(QWidget* central) {
  auto* grid = new QGridLayout(central);
  const int gap = static_cast<int>(std::lround(4 * scale_));
  grid->setSpacing(gap);
  grid->setContentsMargins(gap * 2, gap * 2, gap * 2, gap * 2);
  clock_ = new UC_TextPicture(central);
  clock_->setFont(MakeFont(UiFace(app_.settings().AltFont), 11 * scale_, true, tpp_));
  clock_->SetLit(true);
  clock_->SetLines({"0000/00/00", "00:00:00"});  // its size from the start
  // The header keeps its height; extra height goes to the rows.
  clock_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  timerOn_ = new UC_TextPicture(central);
  timerOn_->setFont(MakeFont(UiFace(app_.settings().AltFont), 11 * scale_, true, tpp_));
  timerOn_->SetLines({"Timer"});
  timerOn_->setCursor(Qt::PointingHandCursor);
  timerOn_->setToolTip(tr("タイマーの入/切"));
  connect(timerOn_, &UC_TextPicture::Clicked, this, [this] {
    app_.tick().ToggleTimer();
    Refresh();
  });
  auto* header = new QLabel(tr("入力検知録音"), central);
  header->setAlignment(Qt::AlignCenter);
  grid->addWidget(clock_, 0, 0, 1, 2);
  grid->addWidget(timerOn_, 0, 2, Qt::AlignLeft | Qt::AlignVCenter);
  grid->addWidget(header, 0, 4, 1, 2, Qt::AlignBottom | Qt::AlignHCenter);
  const QFont timeFont = MakeFont("Impact", 28 * scale_, false, tpp_);
  for (int ch = 0; ch <= app_.settings().NumRec; ++ch) {
    Row row;
    auto* number = row.number = new QLabel(QString::number(ch + 1), central);
    number->setAlignment(Qt::AlignCenter);
    number->setAutoFillBackground(true);
    row.buttons = new UC_Buttons({tr("● 録音"), tr("■ 停止")}, {kRecordActive, kStopActive}, central);
    row.buttons->Button(0)->setToolTip(tr("録音を始める（右クリック: 次の手動録音のファイルを選ぶ）"));
    row.buttons->Button(1)->setToolTip(tr("録音を止める"));
    row.time = new UC_TextPicture(central);
    row.time->setFont(timeFont);
    row.time->setMinimumWidth(QFontMetrics(timeFont).horizontalAdvance("00:00'00.0") + 12);
    row.meter = new MeterWidget(scale_, font(), central);
    row.meter->setMinimumHeight(row.meter->sizeHint().height());
    row.meter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    row.muonStart = new UC_Check(tr("開始"), central);
    row.muonStop = new UC_Check(tr("停止"), central);
    row.muonStart->setToolTip(tr("音が来てから書き始める"));
    row.muonStop->setToolTip(tr("無音が続いたら止める"));
    const int r = ch + 1;
    grid->addWidget(number, r, 0);
    grid->addWidget(row.buttons, r, 1, Qt::AlignVCenter);
    grid->addWidget(row.time, r, 2);
    grid->addWidget(row.meter, r, 3);
    grid->addWidget(row.muonStart, r, 4);
    grid->addWidget(row.muonStop, r, 5);
    connect(row.buttons, &UC_Buttons::ButtonClicked, this, [this, ch](int b) {
      app_.recording().RecButtonClick(ch, b, Origin::User);
      Refresh();
      ShowQueuedMessages();
    });
    connect(row.buttons, &UC_Buttons::RightClicked, this, [this, ch](int) { ChooseManualFile(ch); });
    connect(row.muonStart, &QAbstractButton::clicked, this,
            [this, ch](bool on) { app_.SetMuonStart(ch, on ? 1 : 0); });
    connect(row.muonStop, &QAbstractButton::clicked, this, [this, ch](bool on) { app_.SetMuonStop(ch, on ? 1 : 0); });
    grid->setRowStretch(r, 1);
    rows_.push_back(row);
  }
  grid->setColumnStretch(3, 1);
}

QSize MainWindow::sizeHint() const {
  const QSize rows = content_ ? content_->sizeHint() : QSize();
  const int bars = menuBar()->sizeHint().height() + statusBar()->sizeHint().height();
  return {std::max(rows.width(), menuBar()->sizeHint().width()), rows.height() + bars};
}

QString MainWindow::CoreText(const std::string& text) const { return Q(Translate(app_.state().lang, text)); }

ConfDialog* MainWindow::OpenSettings() {
  if (!conf_) {
    conf_ = new ConfDialog(app_, app_.serialSystem(), this);
    conf_->setAttribute(Qt::WA_DeleteOnClose);
  }
  conf_->show();
  conf_->raise();
  conf_->activateWindow();
  return conf_;
}

void MainWindow::ChooseManualFile(int ch) {
  const QString path = FileDialog(this, true, tr("wavファイル") + "|*.wav", Q(app_.recording().ChannelFolder(ch)), {});
  app_.recording().ChooseManualFile(ch, path.toStdString());
}

void MainWindow::StartTicking(std::function<void()> afterTick) {
  afterTick_ = std::move(afterTick);
  tickTimer_.start();
}

void MainWindow::TickOnce() {
  app_.Tick();
  if (afterTick_) afterTick_();
  Refresh();
  timers_->DispActiveTimer();
  ShowQueuedMessages();
  if (--statusCountdown_ <= 0) UpdateStatus();
}

void MainWindow::Refresh() {
  AppState& s = app_.state();
  clock_->SetLines({Q(s.displayDate), Q(s.displayTime)});
  timerOn_->SetLit(s.TimerOn == 1);
  for (size_t ch = 0; ch < rows_.size(); ++ch) {
    Row& row = rows_[ch];
    const ChannelView& v = s.view[ch];
    // A channel waiting for its device means to record: its stop button ends that.
    row.buttons->SetActive(0, v.recordActive || v.waitingToRecord);
    const ChannelCapture& c = s.capture.Channel(static_cast<int>(ch));
    // A channel that failed (its start, its device, its disk) shows it on
    // the whole row until its next start: no recorded time that could be
    // taken for a recording, the reason where the meter was.
    const bool failed = c.IsOpen != 1 && (!v.error.empty() || v.waitingToRecord);
    row.time->SetLines({failed ? QStringLiteral("--'--.-") : Q(v.timeText)});
    row.time->SetLit(v.timeLit);
    const QString problem = CoreText(v.waitingToRecord ? v.Trouble() : v.error.empty() ? v.warning : v.error);
    row.time->SetWarning(problem);
    row.meter->SetMessage(failed ? problem : QString());
    // A style sheet set anew restyles and repaints the label even when it
    // is the same: only a change sets it.
    if (row.flagged != !problem.isEmpty()) {
      row.flagged = !problem.isEmpty();
      row.number->setStyleSheet(row.flagged ? QStringLiteral("background: #b71c1c; color: white;") : QString());
    }
    // Without trouble the time field names the file being written (after
    // a restart, the resumed part); with trouble it names the trouble.
    if (!problem.isEmpty()) row.tip.clear();
    if (const QString tip = c.IsOpen == 1 ? Q(c.RecFileName) : QString(); problem.isEmpty() && tip != row.tip) {
      row.tip = tip;
      row.time->setToolTip(tip);
    }
    if (v.meterResets != row.meterResets) {
      row.meterResets = v.meterResets;
      row.meterDraws = v.meterDraws;
      row.meter->Reset();
    } else if (v.meterDraws != row.meterDraws) {
      row.meterDraws = v.meterDraws;
      row.meter->DrawLevels(v.meanDb[0], v.peakDb[0], v.meanDb[1], v.peakDb[1]);
    }
    row.muonStart->SetValue(s.settings.UseMuonIn[ch]);
    row.muonStop->SetValue(s.settings.UseMuonOut[ch]);
  }
}

void MainWindow::UpdateStatus() {
  statusCountdown_ = kStatusEveryTicks;
  QStringList parts;
  if (const auto next = app_.tick().NextDue()) {
    parts << tr("次のタイマー ") + Q(next->first) + "  " + tr("チャンネル ") + QString::number(next->second.Ch + 1) +
                 "  " + Q(next->second.FileTitle);
    parts.back() = parts.back().toHtmlEscaped();
  } else {
    parts << tr("次のタイマーはありません");
  }
  if (--freeSpaceCountdown_ <= 0) {
    freeSpaceCountdown_ = kFreeSpaceEveryStatus;
    freeSpace_ = FreeSpaceText(app_);
  }
  if (!freeSpace_.isEmpty()) parts << freeSpace_.toHtmlEscaped();
  for (const std::string& problem : {app_.state().serialProblem, app_.state().hidProblem}) {
    if (!problem.empty()) parts << "<span style='color:#ff8a80'>" + CoreText(problem).toHtmlEscaped() + "</span>";
  }
  status_->setText(parts.join("&nbsp;&nbsp;&nbsp;&nbsp;"));
}

void MainWindow::ShowQueuedMessages() {
  auto& queue = app_.state().messages;
  while (!queue.empty()) {
    const QString text = CoreText(queue.front());
    queue.pop_front();
    // The same message twice while the first is still up is one box.
    if (shownMessages_.contains(text)) continue;
    QMessageBox* box = ShowMessage(this, text, kMbIconExclamation, kProductName);
    if (!box) continue;
    shownMessages_.insert(text);
    connect(box, &QDialog::finished, this, [this, text] { shownMessages_.remove(text); });
  }
}

void MainWindow::CloseWithoutAsking() {
  askOnClose_ = false;
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A placement saved at exit is always a normal one.
  if (isMaximized() || isMinimized()) showNormal();
  if (askOnClose_ && !app_.errorCatch()) {
    const int answer = MsgBoxCentered(this, tr("終了しますか？"), kMbYesNo | kMbIconQuestion, kProductName);
    if (answer != kIdYes) {
      event->ignore();
      return;
    }
  }
  tickTimer_.stop();
  // Whether the editor is open is kept as it was before closing began.
  timers_->OwnerClosing();
  event->accept();
}

void MainWindow::RestorePlacement() {
  // The size too: extra height and width go to the rows and meters, so a
  // size the user chose is kept (within the screen).
  placement_.Restore(this, true);
  FitToScreen(this);
  timers_->RestoreLayout();
  if (app_.state().timerWindowShown != 0) timers_->ShowWindow();
}

void MainWindow::SavePlacement() {
  placement_.Save(this);
  timers_->SaveLayout();
}

}  // namespace kavon::ui
