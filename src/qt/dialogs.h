#pragma once
// The widgets of the properties dialog and the prompt dialog. They only show the models
// (params/dialog2.h, params/dialog1.h) and pass the user's typing and clicks to them.
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <array>
#include <map>

class Dialog1;
class Dialog2;

class PropertiesDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kRows = 16;
  PropertiesDialog(Dialog2& model, QWidget* parent);

  // The rows' edit boxes, for the adapter's tests.
  QComboBox* rowBox(int row) { return boxes_[size_t(row - 1)]; }
  QTreeWidget* tree() { return tree_; }
  void pressOk() { onOk(); }

 private:
  void showModel();
  void pushTexts();
  void onOk();
  void onItemChanged(QTreeWidgetItem* item);

  Dialog2& model_;
  QTreeWidget* tree_;
  std::array<QLabel*, kRows> labels_{};
  std::array<QComboBox*, kRows> boxes_{};
  std::map<int, QTreeWidgetItem*> itemOfPage_;
  bool filling_ = false;
};

class PromptDialog : public QDialog {
  Q_OBJECT
 public:
  PromptDialog(Dialog1& model, QWidget* parent);
  QLineEdit* edit() { return edit_; }

 private:
  Dialog1& model_;
  QLineEdit* edit_;
};
