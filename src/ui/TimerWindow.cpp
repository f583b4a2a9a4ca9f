#include "ui/TimerWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "common/Text.h"
#include "common/Translate.h"
#include "ui/FlowLayout.h"
#include "ui/FrmGetDate.h"
#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

constexpr int kColumns = 7;
constexpr int kDefaultColumnTwips = 1200;
constexpr int kScanWaitMs = 50;
const QColor kActiveRow(255, 0, 0);

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

std::string ColumnKey(int column) { return "TabWidth_ListTimer_" + std::to_string(column + 1); }

std::optional<Date> DateOf(const std::string& text) {
  const auto v = ParseDateTimeText(text);
  if (!v) return std::nullopt;
  return v->date;
}

}  // namespace

TimerWindow::TimerWindow(FrmMain& app, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app),
      editor_(
          app.timers(), app.state().clock,
          [&app] {
            const Settings& s = app.settings();
            const double rate = s.nFreq > 0 ? s.nFreq : 44100;
            return TimerRules{s.HourAdjust, static_cast<double>(app.state().capture.MaxFrames()) / rate};
          },
          [&app] { return app.SaveTimerList(); }),
      placement_(app.store(), "_Timer"), tpp_(TwipsPerPixel(this)) {
  setWindowTitle(tr("タイマー"));
  setFont(MakeFont(UiFace(app.settings().AltFont), 9 * app.settings().SizeRate, false, tpp_));
  editor_.SetScanWait(&app.state().TimerScanning, [this] {
    if (editor_.waitedRounds() == 1) QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::processEvents();
    QThread::msleep(kScanWaitMs);
  });
  auto* layout = new QVBoxLayout(this);
  BuildMenu();
  layout->setMenuBar(menuBar_);
  auto* tools = new QWidget(this);
  BuildTools(tools);
  layout->addWidget(tools);
  list_ = new UC_ListView(this);
  list_->SetColumns({"Ch", tr("録音日"), tr("曜日"), tr("開始時刻"), tr("録音時間"), tr("備考"), tr("ファイル名")}, 2);
  QStringList channels;
  for (int ch = 0; ch <= app.settings().NumRec; ++ch) channels << QString::number(ch + 1);
  list_->SetEditable(0, channels);
  for (int c = 1; c < kColumns; ++c) list_->SetEditable(c);
  list_->setMinimumSize(600 / tpp_, 450 / tpp_);
  layout->addWidget(list_, 1);
  connect(list_, &UC_ListView::RowClicked, this, &TimerWindow::LoadSelected);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &TimerWindow::ShowDefaultButton);
  connect(list_, &UC_ListView::CellEdited, this, &TimerWindow::EditCell);
  connect(list_, &UC_ListView::RowDropped, this, &TimerWindow::MoveRow);
  // As wide as the grid's columns; the fields above wrap to fit.
  resize(QSize(kColumns * kDefaultColumnTwips / tpp_ + 40, 420).expandedTo(minimumSizeHint()));
  ShowDefaultButton();
  ApplyDateRule();
  ShowTimerList();
}

void TimerWindow::BuildMenu() {
  menuBar_ = new QMenuBar(this);
  QMenu* menu = menuBar_->addMenu(tr("タイマー(&T)"));
  connect(menu->addAction(tr("開く(&O)")), &QAction::triggered, this, [this] { MenuTimer(0); });
  connect(menu->addAction(tr("保存(&S)")), &QAction::triggered, this, [this] { MenuTimer(1); });
}

QLineEdit* TimerWindow::Field(const QString& label, int widthChars, QWidget* parent, QHBoxLayout* row) {
  row->addWidget(new QLabel(label, parent));
  auto* edit = new QLineEdit(parent);
  edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(widthChars, '0')) + 12);
  row->addWidget(edit);
  connect(edit, &QLineEdit::textEdited, this, [this] { dirty_ = true; });
  // Enter adds the entry, or overwrites the one selected (the default button).
  connect(edit, &QLineEdit::returnPressed, this, [this] { ButtonClick(list_->SelectedRow() >= 0 ? 1 : 0); });
  return edit;
}

namespace {

// A group of controls that wraps as one: a label with its field, the
// weekdays, the buttons.
QHBoxLayout* Group(QWidget* tools, FlowLayout* flow) {
  auto* box = new QWidget(tools);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  flow->addWidget(box);
  return row;
}

}  // namespace

void TimerWindow::BuildTools(QWidget* tools) {
  // The fields and buttons wrap onto further lines when the window is
  // narrower than they are (a small screen, a large scale).
  auto* flow = new FlowLayout(tools, static_cast<int>(12 * app_.settings().SizeRate));
  flow->setContentsMargins(0, 0, 0, static_cast<int>(8 * app_.settings().SizeRate));
  QHBoxLayout* ch = Group(tools, flow);
  ch->addWidget(new QLabel(QStringLiteral("Ch"), tools));
  comboCh_ = new QComboBox(tools);
  for (int n = 0; n <= app_.settings().NumRec; ++n) comboCh_->addItem(QString::number(n + 1));
  comboCh_->setCurrentIndex(0);
  // The platform's combo box draws no focus of its own on every style.
  comboCh_->setStyleSheet(QStringLiteral("QComboBox:focus { border: 2px solid #ffc107; }"));
  connect(comboCh_, &QComboBox::activated, this, [this] { dirty_ = true; });
  ch->addWidget(comboCh_);
  textTime_ = Field(tr("開始時刻"), 8, tools, Group(tools, flow));
  textLength_ = Field(tr("録音時間"), 8, tools, Group(tools, flow));
  textRef_ = Field(tr("備考"), 12, tools, Group(tools, flow));
  textFileTitle_ = Field(tr("ファイル名"), 14, tools, Group(tools, flow));
  for (QLineEdit* edit : {textTime_, textLength_}) {
    connect(edit, &QLineEdit::textChanged, this, [edit](const QString& text) {
      const QString ruled = Q(SixDigitRule(S(text)));
      if (ruled != text) edit->setText(ruled);
    });
  }
  QHBoxLayout* date = Group(tools, flow);
  checkDate_ = new QCheckBox(tr("日付"), tools);
  connect(checkDate_, &QCheckBox::clicked, this, [this] {
    dirty_ = true;
    ApplyDateRule();
  });
  date->addWidget(checkDate_);
  textDate_ = new QLineEdit(tools);
  textDate_->setPlaceholderText(QStringLiteral("yyyy/mm/dd"));
  textDate_->setMinimumWidth(textDate_->fontMetrics().horizontalAdvance("yyyy/mm/dd") + 16);
  connect(textDate_, &QLineEdit::textEdited, this, [this] { dirty_ = true; });
  connect(textDate_, &QLineEdit::returnPressed, this, [this] { ButtonClick(list_->SelectedRow() >= 0 ? 1 : 0); });
  date->addWidget(textDate_);
  dateButton_ = new QPushButton(QStringLiteral("…"), tools);
  dateButton_->setToolTip(tr("日付選択"));
  dateButton_->setFixedWidth(dateButton_->fontMetrics().horizontalAdvance("……") + 8);
  connect(dateButton_, &QPushButton::clicked, this, &TimerWindow::PickDateForField);
  date->addWidget(dateButton_);
  QHBoxLayout* days = Group(tools, flow);
  for (int i = 0; i < 7; ++i) {
    checkWD_[static_cast<size_t>(i)] = new QCheckBox(WeekdayName(i), tools);
    connect(checkWD_[static_cast<size_t>(i)], &QCheckBox::clicked, this, [this] { dirty_ = true; });
    days->addWidget(checkWD_[static_cast<size_t>(i)]);
  }
  QHBoxLayout* commands = Group(tools, flow);
  const QString captions[] = {tr("追加"), tr("上書き"), tr("削除"), QStringLiteral("△"), QStringLiteral("▽")};
  for (int i = 0; i < 5; ++i) {
    auto* button = new QPushButton(captions[i], tools);
    if (i >= 3) button->setFixedWidth(button->fontMetrics().horizontalAdvance("△") + 24);
    connect(button, &QPushButton::clicked, this, [this, i] { ButtonClick(i); });
    buttons_[static_cast<size_t>(i)] = button;
    commands->addWidget(button);
  }
  buttons_[0]->setDefault(true);
}

void TimerWindow::ShowDefaultButton() {
  // What Enter in a field does: 上書き with a row selected, else 追加.
  const bool selected = list_->SelectedRow() >= 0;
  buttons_[0]->setDefault(!selected);
  buttons_[1]->setDefault(selected);
}

void TimerWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TimerWindow::ShowWindow() {
  app_.state().timerWindowShown = 1;
  show();
  FitToScreen(this);
  raise();
  activateWindow();
  ShowTimerList();
}

void TimerWindow::closeEvent(QCloseEvent* event) {
  // The close box hides: the window lives as long as the program.
  event->ignore();
  hide();
  if (!ownerClosing_) app_.state().timerWindowShown = 0;
}

TimerFields TimerWindow::Fields() const {
  TimerFields f;
  f.ch = comboCh_->currentIndex();
  f.startTime = S(textTime_->text().trimmed());
  f.length = S(textLength_->text().trimmed());
  f.ref = S(textRef_->text());
  f.fileTitle = S(textFileTitle_->text());
  f.useDate = checkDate_->isChecked();
  f.date = S(textDate_->text().trimmed());
  for (int i = 0; i < 7; ++i) {
    if (checkWD_[static_cast<size_t>(i)]->isChecked()) f.weekMask |= 1 << i;
  }
  return f;
}

void TimerWindow::ShowFields(const TimerFields& f) {
  comboCh_->setCurrentIndex(f.ch);
  for (int i = 0; i < 7; ++i) checkWD_[static_cast<size_t>(i)]->setChecked((f.weekMask >> i & 1) != 0);
  checkDate_->setChecked(f.useDate);
  ApplyDateRule();
  textDate_->setText(Q(f.date));
  textTime_->setText(Q(f.startTime));
  textLength_->setText(Q(f.length));
  textRef_->setText(Q(f.ref));
  textFileTitle_->setText(Q(f.fileTitle));
  dirty_ = false;
}

void TimerWindow::ApplyDateRule() {
  const bool date = checkDate_->isChecked();
  for (QCheckBox* box : checkWD_) box->setEnabled(!date);
  textDate_->setEnabled(date);
  dateButton_->setEnabled(date);
}

void TimerWindow::ShowTimerList() {
  const int selected = list_->SelectedRow();
  const std::string selectedKey = selected >= 0 && selected < static_cast<int>(shownKeys_.size())
                                      ? shownKeys_[static_cast<size_t>(selected)]
                                      : std::string();
  const auto& entries = app_.timers().entries();
  list_->clear();
  shownKeys_.clear();
  shownActive_.clear();
  int reselect = -1;
  for (const TimerEntry& e : entries) {
    QStringList texts;
    for (const std::string& t : TimerRowTexts(e)) texts << Q(t);
    texts[2] = e.IsOneTime() ? QString() : WeekdaysText(e.WeekMask);  // in the user's language
    const int row = list_->AddRow(texts);
    list_->SetHidden(row, 0, e.WeekMask);
    list_->SetHidden(row, 1, e.Active);
    if (e.Active != 0) list_->SetRowColor(row, kActiveRow);
    shownKeys_.push_back(EntryKey(e));
    shownActive_.push_back(e.Active);
    if (reselect < 0 && !selectedKey.empty() && shownKeys_.back() == selectedKey) reselect = row;
  }
  shownVersion_ = app_.timers().Version();
  list_->SelectRow(reselect);
}

void TimerWindow::DispActiveTimer() {
  if (!isVisible() || asking_) return;
  if (app_.timers().Version() != shownVersion_) {
    ExternalChange();
    return;
  }
  const auto& entries = app_.timers().entries();
  for (size_t i = 0; i < entries.size() && i < shownActive_.size(); ++i) {
    if (entries[i].Active != shownActive_[i]) {
      ShowTimerList();
      return;
    }
  }
}

void TimerWindow::ExternalChange() {
  ShowTimerList();
  if (!dirty_) return;
  // The list under the fields changed (timer.txt was edited and read
  // again); what the user typed stays unless they let it go.
  asking_ = true;
  const int answer = MsgBoxCentered(
      this, tr("タイマーファイルが変更されたため読み直しました。入力中の内容を残しますか？"),
      kMbYesNo | kMbIconQuestion, {});
  asking_ = false;
  if (answer != kIdNo) return;
  LoadSelected(list_->SelectedRow());
  dirty_ = false;
}

void TimerWindow::LoadSelected(int row) {
  const auto& entries = app_.timers().entries();
  if (row < 0 || row >= static_cast<int>(entries.size())) return;
  ShowFields(FieldsOf(entries[static_cast<size_t>(row)], comboCh_->count()));
}

void TimerWindow::PickDateForField() {
  const int dayStart = app_.settings().HourAdjust;
  const std::optional<Date> today = DateOf(NowText(app_.state().clock, dayStart, 0, 0, 1));
  const std::optional<Date> typed = IsDateText(S(textDate_->text())) ? DateOf(S(textDate_->text())) : std::nullopt;
  const Date start = typed ? *typed : today.value_or(Date{});
  const std::optional<Date> picked = PickDate(this, start, today.value_or(Date{}), app_.settings().SizeRate);
  if (!picked) return;
  textDate_->setText(Q(DateText(*picked)));
  dirty_ = true;
}

QString TimerWindow::CoreText(const std::string& text) const { return Q(Translate(app_.state().lang, text)); }

bool TimerWindow::Tell(const FrmTimer::Outcome& outcome) {
  AfterWait();
  if (!outcome.ok) {
    if (!outcome.message.empty()) MsgBoxCentered(this, CoreText(outcome.message), kMbIconCritical, {});
    return false;
  }
  if (outcome.saveFailed) {
    MsgBoxCentered(this, tr("タイマーファイルを保存できません（変更は有効です。ログを参照してください）"),
                   kMbIconCritical, {});
  } else if (!outcome.message.empty()) {
    MsgBoxCentered(this, CoreText(outcome.message), kMbIconInformation, {});
  }
  return true;
}

void TimerWindow::AfterWait() {
  if (editor_.waitedRounds() > 0 && QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void TimerWindow::ButtonClick(int index) {
  if (comboCh_->currentIndex() < 0) comboCh_->setCurrentIndex(0);
  const int row = list_->SelectedRow();
  switch (index) {
    case 0: {
      const FrmTimer::Outcome outcome = editor_.Add(Fields());
      if (outcome.ok) {
        ShowTimerList();
        list_->SelectRow(list_->RowCount() - 1);
        dirty_ = false;
      }
      Tell(outcome);
      return;
    }
    case 1: {
      if (row < 0) return;
      const FrmTimer::Outcome outcome = editor_.Change(row, Fields());
      if (outcome.ok) {
        ShowTimerList();
        dirty_ = false;
      }
      Tell(outcome);
      return;
    }
    case 2: {
      if (row < 0 || row >= static_cast<int>(shownKeys_.size())) return;
      const std::string key = shownKeys_[static_cast<size_t>(row)];
      if (MsgBoxCentered(this, tr("選択されたタイマーを削除しますか？"), kMbYesNo | kMbIconQuestion, {}) ==
          kIdNo) {
        return;
      }
      const FrmTimer::Outcome outcome = editor_.Delete(row, key);
      ShowTimerList();
      Tell(outcome);
      return;
    }
    case 3:
    case 4:
      if (row >= 0) MoveRow(row, index == 3 ? row - 1 : row + 1);
      return;
    default:
      return;
  }
}

void TimerWindow::MoveRow(int from, int to) {
  FrmTimer::Outcome outcome;
  const int now = editor_.Move(from, to, &outcome);
  ShowTimerList();
  list_->SelectRow(now);
  if (outcome.saveFailed) Tell(outcome);
  AfterWait();
}

void TimerWindow::EditCell(int row, int column, const QString& text) {
  const auto& entries = app_.timers().entries();
  if (row < 0 || row >= static_cast<int>(entries.size())) return;
  TimerFields f = FieldsOf(entries[static_cast<size_t>(row)], comboCh_->count());
  // Only the edited cell changes: a channel outside the list stays as read.
  if (column != 0) f.ch = entries[static_cast<size_t>(row)].Ch;
  const std::string value = S(text.trimmed());
  switch (column) {
    case 0: f.ch = text.toInt() - 1; break;
    case 1:
      f.useDate = true;
      f.weekMask = 0;
      f.date = value;
      break;
    case 2:
      f.useDate = false;
      f.weekMask = WeekMaskOf(text);
      break;
    case 3: f.startTime = SixDigitRule(value); break;
    case 4: f.length = SixDigitRule(value); break;
    case 5: f.ref = S(text); break;
    case 6: f.fileTitle = S(text); break;
    default: return;
  }
  // The same checks as 上書き; a refused edit leaves the row as it was.
  const FrmTimer::Outcome outcome = editor_.Change(row, f);
  ShowTimerList();
  list_->SelectRow(row);
  // The fields show the row as it now is, so a following 上書き keeps it.
  LoadSelected(row);
  if (!outcome.ok || outcome.saveFailed) Tell(outcome);
  AfterWait();
}

void TimerWindow::MenuTimer(int index) {
  if (dialogOpen_) return;
  dialogOpen_ = true;
  const QString path = FileDialog(this, index == 1, tr("タイマーリスト") + "|*.lst",
                                  Q(app_.state().paths.programFolder), {});
  dialogOpen_ = false;
  if (path.isEmpty()) return;
  if (index == 1) {
    Tell(editor_.SaveAs(S(path)));
    return;
  }
  const FrmTimer::Outcome outcome = editor_.Open(S(path));
  ShowTimerList();
  Tell(outcome);
}

void TimerWindow::RestoreLayout() {
  SettingsStore& store = app_.store();
  SettingsBatch batch(store);
  columnsRead_.clear();
  // By default a column is wide enough for what it usually holds.
  const char* const samples[kColumns] = {"00", "0000/00/00", "日月火水木金土", "00:00:00", "00:00:00",
                                         "備考備考備考", "ファイル名ファイル名"};
  int columns = 0;
  for (int c = 0; c < kColumns; ++c) {
    const int fits = (list_->fontMetrics().horizontalAdvance(QString::fromUtf8(samples[c])) + 16) * tpp_;
    const int fallback = std::max(kDefaultColumnTwips, fits);
    columnsRead_.push_back(store.ReadSetting(ColumnKey(c), std::to_string(fallback)));
    const auto twips = ParseInteger(columnsRead_.back(), 1, 100000);
    list_->setColumnWidth(c, static_cast<int>(twips.value_or(fallback) / tpp_));
    columns += list_->columnWidth(c);
  }
  // Until a size is stored, as wide as the columns (the screen may allow less).
  resize(std::max(width(), columns + 40), height());
  placement_.Restore(this, true);
  FitToScreen(this);
}

void TimerWindow::SaveLayout() {
  SettingsStore& store = app_.store();
  SettingsBatch batch(store);
  for (int c = 0; c < kColumns; ++c) {
    const std::string now = std::to_string(list_->columnWidth(c) * tpp_);
    if (static_cast<size_t>(c) < columnsRead_.size() && columnsRead_[static_cast<size_t>(c)] == now) continue;
    store.WriteSetting(ColumnKey(c), now);
  }
  placement_.Save(this);
}

}  // namespace kavon::ui
