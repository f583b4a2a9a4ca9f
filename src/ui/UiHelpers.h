#pragma once
// Dialog and font helpers of the windows: a message box centred on its
// owner, the file and folder dialogs, twips, the Windows font names mapped
// to installed faces, and the font cache applied to widgets. Each dialog
// has a test seam that answers instead of a person.
#include <QFont>
#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

namespace kavon::ui {

// The platform's message-box style bits and answer ids.
inline constexpr int kMbOk = 0;
inline constexpr int kMbYesNo = 4;
inline constexpr int kMbIconCritical = 16;
inline constexpr int kMbIconQuestion = 32;
inline constexpr int kMbIconExclamation = 48;
inline constexpr int kMbIconInformation = 64;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Tests answer boxes and dialogs through these; unset, a person does.
using BoxAnswer = std::function<int(const QString& text, int style)>;
using FileAnswer = std::function<QString(bool save, const QString& folder)>;
void SetBoxAnswer(BoxAnswer answer);
void SetFileAnswer(FileAnswer answer);
using InputAnswer = std::function<QString(const QString& title, const QString& text)>;
void SetInputAnswer(InputAnswer answer);

// A modal box centred on owner (unless it is minimised); the id pressed.
int MsgBoxCentered(QWidget* owner, const QString& text, int style, const QString& title);
// An informational box that does not wait: shown, then left to the user.
// The box, or nullptr when a test answered it.
QMessageBox* ShowMessage(QWidget* owner, const QString& text, int style, const QString& title);
// filter: "description|pattern|..."; save asks before overwriting. The
// chosen path, or "" when cancelled.
QString FileDialog(QWidget* owner, bool save, const QString& filter, const QString& folder, const QString& defaultName);
// A line of text asked for, with text as the default; "" when cancelled.
QString InputBox(QWidget* owner, const QString& prompt, const QString& title, const QString& text);
// The chosen folder with a trailing separator, or "".
QString BrowseFolder(const QString& start, const QString& prompt, QWidget* owner);

// The name of weekday index (0 = Sunday) in the user's language: 日, Su.
QString WeekdayName(int index);
// The same as a calendar's column heads show it: 日, S.
QString WeekdayInitial(int index);
// The weekdays of a mask (bit 0 Sunday) as the grid shows them, and back.
QString WeekdaysText(int mask);
int WeekMaskOf(const QString& text);

// Keeps a top-level window inside the available area of its screen: a
// size larger than the area shrinks to it (down to the window's minimum),
// a position that would put any part outside moves it in.
void FitToScreen(QWidget* window);

// Twips per logical pixel of the widget's screen: 15 at 96 dpi.
int TwipsPerPixel(const QWidget* widget);
// "メイリオ", "ＭＳ Ｐゴシック" and "Impact" are Windows faces: map them to
// what is installed, so the names keep working where they exist.
void InstallFontSubstitutions();
// The UI face: "メイリオ" when AltFont is 1, else "ＭＳ Ｐゴシック".
QString UiFace(int altFont);
// A font of size points in the UI's convention (pixel height = points × 20
// × factor / twips per pixel; "メイリオ" is 1.34 times as tall).
QFont MakeFont(const QString& face, double points, bool bold, int tpp);

// The windows' shared fonts, created once per face, size and style.
class FontCache {
 public:
  struct Entry {
    QFont font;
    double size = 9;
    bool bold = false;
    bool italic = false;
    QString face;
    double factor = 1;
  };
  FontCache(QString uiFace, int tpp) : uiFace_(std::move(uiFace)), tpp_(tpp) {}

  bool CreateCachedFont(double size, bool bold, bool italic, const QString& face);
  // index >= 0: that entry; -1: the widget's own font's face and size; -2:
  // the arguments (an empty face is the UI face, size 0 is 9 points). The
  // index used, or -3.
  int SetWindowFont(QWidget* widget, int index, double size = 0, bool bold = false, bool italic = false,
                    const QString& face = {});
  void ReleaseFonts() { entries_.clear(); }
  int Count() const { return static_cast<int>(entries_.size()); }
  const Entry& At(int i) const { return entries_.at(static_cast<size_t>(i)); }

 private:
  QString uiFace_;
  int tpp_;
  std::vector<Entry> entries_;
};

}  // namespace kavon::ui
