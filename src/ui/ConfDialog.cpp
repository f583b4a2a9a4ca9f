#include "ui/ConfDialog.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStylePainter>
#include <QVBoxLayout>

#include "common/Translate.h"
#include "ui/MainWindow.h"
#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
const char* const kRefusedStyle = "background: #5a1414; color: #ffd0c8;";

QLabel* Label(const QString& text, QWidget* parent) { return new QLabel(text, parent); }

// A list of devices whose names are long and alike at both ends ("HDA
// Intel PCH, ALC3246 Analog, Front microphone"): the closed box cuts the
// middle, the popup and the tooltip show every name whole.
class DeviceList : public QComboBox {
 public:
  DeviceList(const std::vector<std::string>& labels, int selected, QWidget* parent) : QComboBox(parent) {
    int widest = 0;
    for (const auto& label : labels) {
      addItem(Q(label));
      setItemData(count() - 1, Q(label), Qt::ToolTipRole);
      widest = std::max(widest, fontMetrics().horizontalAdvance(Q(label)));
    }
    setCurrentIndex(selected);
    setMinimumContentsLength(18);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    view()->setMinimumWidth(widest + 4 * fontMetrics().averageCharWidth());
    connect(this, &QComboBox::currentIndexChanged, this, [this] { setToolTip(currentText()); });
    setToolTip(currentText());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect text = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, text.width());
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
  }
};

}  // namespace

UC_PathText::UC_PathText(QWidget* parent) : QWidget(parent), edit_(new QLineEdit(this)), browse_(new QPushButton("…", this)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  row->addWidget(edit_, 1);
  row->addWidget(browse_);
  browse_->setFixedWidth(browse_->fontMetrics().horizontalAdvance("…") + 16);
  connect(browse_, &QPushButton::clicked, this, [this] {
    const QString chosen = BrowseFolder(edit_->text(), tr("フォルダ選択"), this);
    if (!chosen.isEmpty()) edit_->setText(chosen);
  });
}

QString UC_PathText::Text() const { return edit_->text(); }
void UC_PathText::SetText(const QString& text) { edit_->setText(text); }

ConfDialog::ConfDialog(FrmMain& app, platform::SerialSystem* serial, QWidget* parent)
    : QDialog(parent), app_(app), conf_(app, serial), loaded_(conf_.Load()) {
  setWindowTitle(tr("設定"));
  setModal(false);
  // The groups scroll inside the window when the screen is too small for
  // them; OK and キャンセル stay in view below them.
  auto* outer = new QVBoxLayout(this);
  if (!loaded_.notes.empty()) {
    QStringList lines;
    for (const auto& n : loaded_.notes) lines << Q(n);
    auto* notes = new QLabel(tr("kavon.ini の範囲外の値の代わりに、使っている値を表示しています: ") + lines.join(", "), this);
    notes->setWordWrap(true);
    notes->setStyleSheet("color: #b71c1c;");
    notes_ = notes;
    outer->addWidget(notes);
  }
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* content = new QWidget(scroll);
  auto* top = new QVBoxLayout(content);
  top->setContentsMargins(0, 0, 0, 0);
  const QString nextStart = tr("（次回起動から）");

  auto* general = new QGroupBox(tr("一般"), this);
  auto* g = new QGridLayout(general);
  g->addWidget(Label(tr("表示サイズ"), general), 0, 0);
  g->addWidget(Line("SizeRate", loaded_.sizeRate), 0, 1);
  g->addWidget(Label(nextStart, general), 0, 2);
  g->addWidget(Label(tr("表示フォント"), general), 1, 0);
  altFont_ = List({"ＭＳ Ｐゴシック", "メイリオ"}, loaded_.altFont);
  g->addWidget(altFont_, 1, 1);
  g->addWidget(Label(nextStart, general), 1, 2);
  top->addWidget(general);

  auto* rec = new QGroupBox(tr("録音"), this);
  auto* r = new QGridLayout(rec);
  r->addWidget(Label(tr("録音数"), rec), 0, 0);
  r->addWidget(Line("NumRec", loaded_.numDev), 0, 1);
  r->addWidget(Label(tr("サンプリング周波数"), rec), 0, 2);
  rate_ = List(loaded_.rates, loaded_.rate);
  r->addWidget(rate_, 0, 3);
  r->addWidget(Label(nextStart, rec), 0, 4);
  r->addWidget(Label(tr("削除日数"), rec), 1, 0);
  r->addWidget(Line("DeleteDate", loaded_.deleteDate), 1, 1);
  r->addWidget(Label(tr("入力デバイス"), rec), 2, 1);
  r->addWidget(Label(tr("レベル"), rec), 2, 2);
  r->addWidget(Label(tr("フォルダ"), rec), 2, 4);
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    const auto i = static_cast<size_t>(ch);
    const int row = 3 + ch;
    r->addWidget(Label(QString::number(ch + 1), rec), row, 0);
    devices_[i] = new DeviceList(loaded_.channels[i].labels, loaded_.channels[i].device, this);
    r->addWidget(devices_[i], row, 1);
    r->addWidget(Line(Q(ChannelKey("RecLevelDB", ch)), loaded_.channels[i].level), row, 2);
    r->addWidget(Label(QStringLiteral("db"), rec), row, 3);
    paths_[i] = new UC_PathText(rec);
    paths_[i]->SetText(Q(loaded_.channels[i].path));
    paths_[i]->Edit()->setMinimumWidth(paths_[i]->fontMetrics().horizontalAdvance(QString(28, 'x')));
    fields_.insert(Q(ChannelKey("RecPath", ch)), paths_[i]->Edit());
    r->addWidget(paths_[i], row, 4);
  }
  auto* muon = new QHBoxLayout;
  muon->addWidget(Label(tr("入力検知録音 開始"), rec));
  muon->addWidget(Line("MuonInLevel", loaded_.muonInLevel));
  muon->addWidget(Label(tr("db  停止"), rec));
  muon->addWidget(Line("MuonOutLevel", loaded_.muonOutLevel));
  muon->addWidget(Label(tr("db  無音長さ"), rec));
  muon->addWidget(Line("MuonMS", loaded_.muonMS));
  muon->addWidget(Label(QStringLiteral("ms"), rec));
  r->addLayout(muon, 3 + kMaxChannels, 0, 1, 5);
  r->setColumnStretch(1, 2);
  r->setColumnStretch(4, 3);
  top->addWidget(rec);

  auto* cal = new QGroupBox(tr("時刻較正"), this);
  auto* c = new QGridLayout(cal);
  c->addWidget(Label(tr("一日の開始時刻"), cal), 0, 0);
  QLineEdit* day = Line("HourAdjust", loaded_.hourAdjust);
  connect(day, &QLineEdit::textEdited, this, [day](const QString& text) {
    const QString shown = Q(FrmConf::FormatTimeTyping(text.toStdString()));
    if (shown != text) day->setText(shown);
  });
  c->addWidget(day, 0, 1);
  auto* mark = new QHBoxLayout;
  mark->addWidget(Label(tr("毎時"), cal));
  mark->addWidget(Line("AMinute", loaded_.minute));
  mark->addWidget(Label(tr("分"), cal));
  mark->addWidget(Line("ASecond", loaded_.second));
  mark->addWidget(Label(tr("秒  前後"), cal));
  mark->addWidget(Line("NoAdjustSec", loaded_.noAdjustSec));
  mark->addWidget(Label(tr("秒以外は無視"), cal));
  c->addLayout(mark, 1, 0, 1, 4);
  std::vector<std::string> ports;
  for (const auto& p : loaded_.comPorts) ports.push_back(Translate(app_.state().lang, p));
  com_ = List(ports, loaded_.comNo);
  baud_ = List(loaded_.bauds, loaded_.baud);
  bcd_ = new QCheckBox(QStringLiteral("BCD"), cal);
  bcd_->setChecked(loaded_.useBCD != 0);
  connect(bcd_, &QCheckBox::toggled, this, [this] { ApplyBcdRule(); });
  c->addWidget(com_, 2, 0, 1, 2);
  c->addWidget(baud_, 2, 2);
  c->addWidget(bcd_, 2, 3);
  const std::vector<std::string> pinItems = {"NA", "1", "2", "3", "4", "5", "6", "7", "8"};
  c->addWidget(Label(tr("較正ピン"), cal), 3, 0);
  for (int i = 0; i < 2; ++i) {
    pins_[static_cast<size_t>(i)] = List(pinItems, loaded_.adjustPin[static_cast<size_t>(i)]);
    c->addWidget(pins_[static_cast<size_t>(i)], 3, 1 + i);
  }
  c->addWidget(Label(QStringLiteral("HID ID"), cal), 4, 0);
  hid_ = List(pinItems, loaded_.hid);
  c->addWidget(hid_, 4, 1);
  top->addWidget(cal);
  top->addStretch(1);
  scroll->setWidget(content);
  outer->addWidget(scroll, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* ok = ok_ = new QPushButton(QStringLiteral("OK"), this);
  auto* cancel = cancel_ = new QPushButton(tr("キャンセル"), this);
  ok->setDefault(true);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  outer->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, [this] {
    app_.log().WriteLog("設定画面 OKCancelButtons Click 1");
    Accept();
  });
  connect(cancel, &QPushButton::clicked, this, [this] {
    app_.log().WriteLog("設定画面 OKCancelButtons Click 0");
    close();
  });
  ApplyBcdRule();
  // As large as the groups need, as far as the screen allows.
  const QMargins m = outer->contentsMargins();
  resize(content->sizeHint() + QSize(m.left() + m.right() + scroll->verticalScrollBar()->sizeHint().width(),
                                     m.top() + m.bottom() + outer->spacing() * 2 + ok->sizeHint().height() +
                                         (notes_ ? notes_->sizeHint().height() + outer->spacing() : 0)));
}

void ConfDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FitToScreen(this);
}

QLineEdit* ConfDialog::Line(const QString& key, const std::string& text) {
  auto* edit = new QLineEdit(Q(text), this);
  edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance("00:00:00") + 16);
  edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance("000000000000") + 16);
  fields_.insert(key, edit);
  return edit;
}

QComboBox* ConfDialog::List(const std::vector<std::string>& items, int selected) {
  auto* list = new QComboBox(this);
  for (const auto& item : items) list->addItem(Q(item));
  list->setCurrentIndex(selected);
  return list;
}

void ConfDialog::ApplyBcdRule() {
  baud_->setEnabled(!bcd_->isChecked());
  pins_[0]->setEnabled(!bcd_->isChecked());
}

ConfValues ConfDialog::Values() const {
  ConfValues v = loaded_;
  auto text = [this](const char* key) { return qobject_cast<QLineEdit*>(fields_.value(key))->text().toStdString(); };
  v.sizeRate = text("SizeRate");
  v.altFont = altFont_->currentIndex();
  v.numDev = text("NumRec");
  v.rate = rate_->currentIndex();
  v.deleteDate = text("DeleteDate");
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    const auto i = static_cast<size_t>(ch);
    v.channels[i].device = devices_[i]->currentIndex();
    v.channels[i].level = qobject_cast<QLineEdit*>(fields_.value(Q(ChannelKey("RecLevelDB", ch))))->text().toStdString();
    v.channels[i].path = paths_[i]->Text().toStdString();
  }
  v.muonInLevel = text("MuonInLevel");
  v.muonOutLevel = text("MuonOutLevel");
  v.muonMS = text("MuonMS");
  v.hourAdjust = text("HourAdjust");
  v.minute = text("AMinute");
  v.second = text("ASecond");
  v.noAdjustSec = text("NoAdjustSec");
  v.comNo = com_->currentIndex();
  v.baud = baud_->currentIndex();
  v.useBCD = bcd_->isChecked() ? 1 : 0;
  for (size_t i = 0; i < 2; ++i) v.adjustPin[i] = pins_[i]->currentIndex();
  v.hid = hid_->currentIndex();
  return v;
}

void ConfDialog::MarkRefused(const std::vector<Refusal>& refused) {
  for (QWidget* w : fields_) w->setStyleSheet({});
  QStringList lines;
  for (const auto& r : refused) {
    if (QWidget* w = fields_.value(Q(r.field))) w->setStyleSheet(kRefusedStyle);
    lines << Q(Translate(app_.state().lang, r.message));
  }
  if (lines.isEmpty()) return;
  MsgBoxCentered(this, tr("次の値は使えません。何も保存していません。") + "\n" + lines.join("\n"), kMbIconExclamation,
                 kProductName);
}

bool ConfDialog::Accept() {
  const std::vector<Refusal> refused = conf_.Ok(Values());
  MarkRefused(refused);
  if (!refused.empty()) return false;
  close();
  return true;
}

}  // namespace kavon::ui
