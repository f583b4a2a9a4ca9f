// Every text of the four windows in the user's language: in English no
// Japanese is left (but the names of Japanese fonts), in Japanese the
// windows keep their own captions and Qt's standard buttons are Japanese
// too. And the choice of the language itself, and the core's phrases.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>

#include "common/Translate.h"
#include "ui/ConfDialog.h"
#include "ui/FrmGetDate.h"
#include "ui/GuiRunner.h"
#include "ui/TimerWindow.h"
#include "ui/UC_ListView.h"
#include "ui/WindowFixture.h"

namespace kavon {
namespace {

using test::WindowFixture;

// Every text a person can see in w and its children: captions, titles,
// placeholders, list items, menu entries, headers and tooltips.
QStringList VisibleTexts(QWidget* w) {
  QStringList out{w->windowTitle(), w->toolTip()};
  for (QWidget* c : w->findChildren<QWidget*>()) {
    out << c->toolTip();
    if (auto* l = qobject_cast<QLabel*>(c)) out << l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(c)) out << b->text();
    if (auto* e = qobject_cast<QLineEdit*>(c)) out << e->placeholderText();
    if (auto* g = qobject_cast<QGroupBox*>(c)) out << g->title();
    if (auto* t = qobject_cast<ui::UC_TextPicture*>(c)) out << t->Lines();
    if (auto* m = qobject_cast<QMenuBar*>(c)) {
      for (QAction* a : m->actions()) {
        out << a->text();
        if (a->menu()) {
          for (QAction* sub : a->menu()->actions()) out << sub->text();
        }
      }
    }
    if (auto* list = qobject_cast<QComboBox*>(c)) {
      for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    }
    if (auto* grid = qobject_cast<ui::UC_ListView*>(c)) {
      for (int i = 0; i < grid->columnCount(); ++i) out << grid->headerItem()->text(i);
    }
  }
  out.removeAll(QString());
  return out;
}

void RemoveTranslations() {
  for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
    qApp->removeTranslator(t);
    delete t;
  }
}

// The four windows, opened as a user opens them.
std::vector<QWidget*> Windows(WindowFixture& f, std::unique_ptr<ui::FrmGetDate>& date) {
  f.window->Timers()->ShowWindow();
  date = std::make_unique<ui::FrmGetDate>(Date{}, Date{}, 1.0);
  return {f.window.get(), f.window->Timers(), f.window->OpenSettings(), date.get()};
}

TEST(Language, EnglishWindowsHoldNoJapanese) {
  ui::InstallTranslations(*qApp, Lang(Lang::kEnglish));
  WindowFixture f("NumRec=1\n", {}, Lang::kEnglish);
  std::unique_ptr<ui::FrmGetDate> date;
  const QRegularExpression japanese(QStringLiteral("[\\x{3040}-\\x{30ff}\\x{3400}-\\x{9fff}\\x{ff01}-\\x{ff5e}]"));
  const QStringList names = {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("メイリオ")};  // font names
  for (QWidget* w : Windows(f, date)) {
    const QStringList texts = VisibleTexts(w);
    EXPECT_FALSE(texts.isEmpty()) << w->metaObject()->className();
    for (const QString& t : texts) {
      EXPECT_TRUE(names.contains(t) || !t.contains(japanese)) << w->metaObject()->className() << ": " << t.toStdString();
    }
  }
  EXPECT_TRUE(VisibleTexts(f.window.get()).contains("Input detection"));
  RemoveTranslations();
}

TEST(Language, JapaneseWindowsKeepTheirCaptionsAndQtsButtonsAreJapanese) {
  ui::InstallTranslations(*qApp, Lang(Lang::kJapanese));
  WindowFixture f("NumRec=1\n");
  std::unique_ptr<ui::FrmGetDate> date;
  const auto windows = Windows(f, date);
  const QStringList main = VisibleTexts(windows[0]), editor = VisibleTexts(windows[1]), conf = VisibleTexts(windows[2]);
  for (const char* caption : {"入力検知録音", "● 録音", "■ 停止", "開始", "停止", "タイマー(&T)", "設定(&C)"}) {
    EXPECT_TRUE(main.contains(QString::fromUtf8(caption))) << caption;
  }
  for (const char* caption : {"追加", "上書き", "削除", "開始時刻", "録音時間", "ファイル名"}) {
    EXPECT_TRUE(editor.contains(QString::fromUtf8(caption))) << caption;
  }
  EXPECT_TRUE(conf.contains(QStringLiteral("時刻較正")));
  QMessageBox box(QMessageBox::Question, "kavon", "?", QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("はい")));
  RemoveTranslations();
}

TEST(Language, TheUsersLanguageAndTheCoresPhrases) {
  struct Case {
    const char* language;
    const char* lcAll;
    const char* lang;
    const char* platform;
    const char* expected;
  };
  const Case cases[] = {
      {"", "", "ja_JP.UTF-8", "", "ja_JP.UTF-8"},
      {"en_GB:ja", "", "ja_JP.UTF-8", "", "en_GB"},  // LANGUAGE first over a real locale
      {"ja", "C", "", "", "C"},                      // ... but not over C
      {"", "en_US.UTF-8", "ja_JP.UTF-8", "", "en_US.UTF-8"},  // LC_ALL before LANG
      {"", "", "", "", ""},
      {"", "", "en_US.UTF-8", "ja", "ja"},  // Windows: the account's UI language
  };
  for (const Case& c : cases) {
    static const Case* current;
    current = &c;
    const Lang::Env env = [](const char* name) {
      const std::string n = name;
      return std::string(n == "LANGUAGE" ? current->language : n == "LC_ALL" ? current->lcAll : n == "LANG" ? current->lang : "");
    };
    EXPECT_EQ(Lang::UserLanguage(env, c.platform), c.expected) << c.language << " " << c.lcAll << " " << c.lang;
  }
  EXPECT_EQ(Lang::ModeFor("ja_JP.UTF-8", 0), Lang::kJapanese);
  EXPECT_EQ(Lang::ModeFor("ja", 1), Lang::kEnglish);  // LangMode 1 on a Japanese system
  EXPECT_EQ(Lang::ModeFor("en_US", 0), Lang::kEnglish);
  EXPECT_EQ(Lang::ModeFor("", 0), Lang::kEnglish);

  // Every phrase of the core has English, and texts built from them come
  // out without Japanese.
  const QRegularExpression japanese(QStringLiteral("[\\x{3040}-\\x{30ff}\\x{3400}-\\x{9fff}\\x{ff01}-\\x{ff5e}]"));
  for (const Phrase& p : Phrases()) {
    EXPECT_FALSE(p.en.empty()) << p.ja;
    EXPECT_FALSE(QString::fromUtf8(p.en.data(), static_cast<qsizetype>(p.en.size())).contains(japanese)) << p.ja;
  }
  const Lang en(Lang::kEnglish);
  for (const std::string text : {"ファイルを作成できません /rec/a.wav (No space left on device)", "音声欠落 1 /rec/a.wav 2.000秒",
                                 "レベル 3: -110 ～ 40 db", "秒: 0 ～ 59", "Com2  /dev/ttyUSB0（未接続）",
                                 "録音デバイスがこの録音形式（サンプリング周波数・16ビット・ステレオ）に対応していません"}) {
    EXPECT_FALSE(QString::fromStdString(Translate(en, text)).contains(japanese)) << Translate(en, text);
  }
  EXPECT_EQ(Translate(Lang(Lang::kJapanese), "無音"), "無音");
}

}  // namespace
}  // namespace kavon
