#include "ui/UiHelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace kavon::ui {
namespace {

BoxAnswer& TestBoxAnswer() {
  static BoxAnswer answer;
  return answer;
}

FileAnswer& TestFileAnswer() {
  static FileAnswer answer;
  return answer;
}

InputAnswer& TestInputAnswer() {
  static InputAnswer answer;
  return answer;
}

constexpr const char* kMeiryo = "メイリオ";
constexpr const char* kMsPGothic = "ＭＳ Ｐゴシック";
constexpr double kMeiryoFactor = 1.34;

QMessageBox::Icon IconOf(int style) {
  switch (style & 0x70) {
    case kMbIconCritical: return QMessageBox::Critical;
    case kMbIconQuestion: return QMessageBox::Question;
    case kMbIconExclamation: return QMessageBox::Warning;
    case 64: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QMessageBox* MakeBox(QWidget* owner, const QString& text, int style, const QString& title) {
  auto* box = new QMessageBox(IconOf(style), title, text, QMessageBox::NoButton, owner);
  if ((style & 0x0F) == kMbYesNo) {
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  } else {
    box->setStandardButtons(QMessageBox::Ok);
  }
  return box;
}

// Qt places a box over its parent's centre already; a minimised owner
// leaves the place to the window system.
void Centre(QMessageBox* box, QWidget* owner) {
  if (!owner || owner->isMinimized()) return;
  box->adjustSize();
  const QPoint centre = owner->frameGeometry().center();
  box->move(centre - QPoint(box->width() / 2, box->height() / 2));
}

// "Text files|*.txt|All|*.*" as Qt's "Text files (*.txt);;All (*.*)".
QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) out << parts[i] + " (" + parts[i + 1] + ")";
  return out.join(";;");
}

}  // namespace

void SetBoxAnswer(BoxAnswer answer) { TestBoxAnswer() = std::move(answer); }
void SetFileAnswer(FileAnswer answer) { TestFileAnswer() = std::move(answer); }
void SetInputAnswer(InputAnswer answer) { TestInputAnswer() = std::move(answer); }

int MsgBoxCentered(QWidget* owner, const QString& text, int style, const QString& title) {
  if (TestBoxAnswer()) return TestBoxAnswer()(text, style);
  QMessageBox* box = MakeBox(owner, text, style, title);
  Centre(box, owner);
  const int pressed = box->exec();
  delete box;
  if (pressed == QMessageBox::Yes) return kIdYes;
  if (pressed == QMessageBox::No) return kIdNo;
  return kIdOk;
}

QMessageBox* ShowMessage(QWidget* owner, const QString& text, int style, const QString& title) {
  if (TestBoxAnswer()) {
    TestBoxAnswer()(text, style);
    return nullptr;
  }
  QMessageBox* box = MakeBox(owner, text, style, title);
  box->setAttribute(Qt::WA_DeleteOnClose);
  Centre(box, owner);
  box->open();
  return box;
}

QString FileDialog(QWidget* owner, bool save, const QString& filter, const QString& folder, const QString& defaultName) {
  QString start = folder;
  while (start.size() > 1 && (start.endsWith('/') || start.endsWith('\\'))) start.chop(1);
  if (TestFileAnswer()) return TestFileAnswer()(save, start);
  const QString initial = defaultName.isEmpty() ? start : QDir(start).filePath(defaultName.left(255));
  const QString path = save ? QFileDialog::getSaveFileName(owner, {}, initial, QtFilter(filter))
                            : QFileDialog::getOpenFileName(owner, {}, initial, QtFilter(filter));
  return path.section(QChar(0), 0, 0);
}

QString InputBox(QWidget* owner, const QString& prompt, const QString& title, const QString& text) {
  if (TestInputAnswer()) return TestInputAnswer()(title, text);
  bool ok = false;
  const QString answer = QInputDialog::getText(owner, title, prompt, QLineEdit::Normal, text, &ok);
  return ok ? answer : QString();
}

QString BrowseFolder(const QString& start, const QString& prompt, QWidget* owner) {
  if (TestFileAnswer()) return TestFileAnswer()(false, start);
  const QString caption = prompt.isEmpty() ? QCoreApplication::translate("kavon::ui", "フォルダを選択してください") : prompt;
  const QString chosen =
      QFileDialog::getExistingDirectory(owner, caption, start.isEmpty() ? QDir::currentPath() : start);
  if (chosen.isEmpty()) return {};
  return chosen.endsWith('/') ? chosen : chosen + '/';
}

namespace {

// The weekday names as the translation catalogue knows them.
constexpr const char* kWeekdays[] = {QT_TRANSLATE_NOOP("kavon::ui::Weekday", "日"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Weekday", "月"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Weekday", "火"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Weekday", "水"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Weekday", "木"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Weekday", "金"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Weekday", "土")};

// A calendar's column heads: one letter in English.
constexpr const char* kInitials[] = {QT_TRANSLATE_NOOP("kavon::ui::Calendar", "日"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Calendar", "月"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Calendar", "火"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Calendar", "水"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Calendar", "木"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Calendar", "金"),
                                     QT_TRANSLATE_NOOP("kavon::ui::Calendar", "土")};

}  // namespace

QString WeekdayInitial(int index) {
  return QCoreApplication::translate("kavon::ui::Calendar", kInitials[((index % 7) + 7) % 7]);
}

QString WeekdayName(int index) {
  return QCoreApplication::translate("kavon::ui::Weekday", kWeekdays[((index % 7) + 7) % 7]);
}

QString WeekdaysText(int mask) {
  QStringList names;
  for (int day = 0; day < 7; ++day) {
    if (mask >> day & 1) names << WeekdayName(day);
  }
  // Japanese names run together (月水金); others are words apart.
  const bool oneChar = WeekdayName(0).size() == 1;
  return names.join(oneChar ? QString() : QStringLiteral(" "));
}

int WeekMaskOf(const QString& text) {
  int mask = 0;
  for (int day = 0; day < 7; ++day) {
    // The translated name or the Japanese one: a typed 月 works in English too.
    if (text.contains(WeekdayName(day), Qt::CaseInsensitive) || text.contains(QString::fromUtf8(kWeekdays[day]))) {
      mask |= 1 << day;
    }
  }
  return mask;
}

void FitToScreen(QWidget* window) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  // The frame the window manager adds (title bar, borders) counts too.
  const QRect frame = window->frameGeometry();
  const QSize extra = frame.size() - window->size();
  const QSize room = (area.size() - extra).expandedTo(window->minimumSize());
  if (window->width() > room.width() || window->height() > room.height()) window->resize(window->size().boundedTo(room));
  const QSize outer = window->size() + extra;
  QPoint at = window->frameGeometry().topLeft();
  at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
  at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
  window->move(at);
}

int TwipsPerPixel(const QWidget* widget) {
  const QScreen* screen = widget ? widget->screen() : QGuiApplication::primaryScreen();
  const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
  return std::max(1, static_cast<int>(std::lround(1440.0 / (dpi > 0 ? dpi : 96.0))));
}

void InstallFontSubstitutions() {
  const QStringList families = QFontDatabase::families();
  auto first = [&families](const QStringList& wanted) {
    for (const auto& f : wanted) {
      if (families.contains(f)) return f;
    }
    return QString();
  };
  const QString cjk = first({"Noto Sans CJK JP", "Noto Sans JP", "VL Gothic", "IPAGothic", "DejaVu Sans"});
  const QString condensed = first({"DejaVu Sans Condensed", "Liberation Sans Narrow", "DejaVu Sans"});
  for (const char* face : {kMeiryo, kMsPGothic}) {
    if (!families.contains(face) && !cjk.isEmpty()) QFont::insertSubstitution(face, cjk);
  }
  if (!families.contains("Impact") && !condensed.isEmpty()) QFont::insertSubstitution("Impact", condensed);
}

QString UiFace(int altFont) { return altFont == 1 ? QString(kMeiryo) : QString(kMsPGothic); }

QFont MakeFont(const QString& face, double points, bool bold, int tpp) {
  QFont font(face);
  const double factor = face == kMeiryo ? kMeiryoFactor : 1.0;
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(points * 20 * factor / std::max(1, tpp)))));
  font.setBold(bold);
  if (face == "Impact") font.setStretch(QFont::Condensed);
  return font;
}

bool FontCache::CreateCachedFont(double size, bool bold, bool italic, const QString& face) {
  Entry e;
  e.font = MakeFont(face, size, bold, tpp_);
  e.font.setItalic(italic);
  e.size = size;
  e.bold = bold;
  e.italic = italic;
  e.face = face;
  e.factor = face == kMeiryo ? 1 / kMeiryoFactor : 1.0;
  entries_.push_back(e);
  return true;
}

int FontCache::SetWindowFont(QWidget* widget, int index, double size, bool bold, bool italic, const QString& face) {
  if (index < -2) return -3;
  if (entries_.empty() && !CreateCachedFont(9, false, false, uiFace_)) return -3;
  QString f = face;
  if (index == -1 && widget) {
    f = widget->font().family();
    size = widget->font().pointSizeF() > 0 ? widget->font().pointSizeF() : 0;
    bold = widget->font().bold();
    italic = widget->font().italic();
  }
  if (f.isEmpty()) f = uiFace_;
  if (size == 0) size = 9;
  if (index < 0) {
    index = -3;
    for (int i = 0; i < Count(); ++i) {
      const Entry& e = entries_[static_cast<size_t>(i)];
      if (e.face == f && e.size == size && e.bold == bold && e.italic == italic) index = i;
    }
    if (index == -3) {
      if (!CreateCachedFont(size, bold, italic, f)) return -3;
      index = Count() - 1;
    }
  }
  if (index >= Count()) return -3;
  if (widget) widget->setFont(entries_[static_cast<size_t>(index)].font);
  return index;
}

}  // namespace kavon::ui
