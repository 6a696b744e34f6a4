#pragma once
// The six panes of the main window's status bar. Pane 5 doubles as the progress bar while
// an operation runs: a blue bar of 3 pixels per percent under its text.
#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <array>

class ProgressPane : public QLabel {
  Q_OBJECT
 public:
  explicit ProgressPane(QWidget* parent = nullptr) : QLabel(parent) {}
  void setProgressStyle(bool on) { progressStyle_ = on; }
  void setPercent(int percent) { percent_ = percent; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool progressStyle_ = false;
  int percent_ = 0;
};

class StatusPanes {
 public:
  static constexpr int kCount = 6;
  // Adds the panes to bar with their widths and captions.
  explicit StatusPanes(QStatusBar* bar);
  void setText(int pane, const QString& text);
  QString text(int pane) const;
  void showProgressPane();
  void drawProgress(int percent);
  // Returns pane 5 to its plain style after an operation.
  void endProgress();
  // Writes the six captions.
  void showCaptions();

 private:
  QStatusBar* bar_;
  std::array<QLabel*, kCount> panes_{};
  ProgressPane* progress_ = nullptr;
};
