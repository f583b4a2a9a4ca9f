#pragma once
// The settings window (modeless, owned by the main window): the groups
// 一般, 録音 and 時刻較正 over FrmConf's values. OK hands the fields back to
// FrmConf; refused fields are marked and named, and nothing is stored.
#include <QDialog>
#include <QMap>
#include <array>

#include "app/FrmConf.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kavon::ui {

// A folder field with a browse button.
class UC_PathText : public QWidget {
  Q_OBJECT
 public:
  explicit UC_PathText(QWidget* parent = nullptr);
  QString Text() const;
  void SetText(const QString& text);
  QLineEdit* Edit() const { return edit_; }
  QPushButton* Browse() const { return browse_; }

 private:
  QLineEdit* edit_;
  QPushButton* browse_;
};

class ConfDialog : public QDialog {
  Q_OBJECT
 public:
  ConfDialog(FrmMain& app, platform::SerialSystem* serial, QWidget* parent = nullptr);

  // The values of the fields as they stand.
  ConfValues Values() const;
  // What OK does; true when the settings were stored and the window closes.
  bool Accept();
  // The field of a key ("MuonMS", "RecLevelDB_3"), for tests.
  QWidget* Field(const QString& key) const { return fields_.value(key); }
  QComboBox* BaudList() const { return baud_; }
  QComboBox* PinList(int i) const { return pins_[static_cast<size_t>(i)]; }
  QCheckBox* BcdBox() const { return bcd_; }
  // The note on stored values that were out of range, or nullptr.
  QLabel* Notes() const { return notes_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* Line(const QString& key, const std::string& text);
  QComboBox* List(const std::vector<std::string>& items, int selected);
  void MarkRefused(const std::vector<Refusal>& refused);
  void ApplyBcdRule();

  FrmMain& app_;
  FrmConf conf_;
  ConfValues loaded_;
  QMap<QString, QWidget*> fields_;
  QComboBox* altFont_ = nullptr;
  QComboBox* rate_ = nullptr;
  std::array<QComboBox*, kMaxChannels> devices_{};
  std::array<UC_PathText*, kMaxChannels> paths_{};
  QComboBox* com_ = nullptr;
  QComboBox* baud_ = nullptr;
  QCheckBox* bcd_ = nullptr;
  std::array<QComboBox*, 2> pins_{};
  QComboBox* hid_ = nullptr;
  QLabel* notes_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace kavon::ui
