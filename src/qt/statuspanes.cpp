#include "qt/statuspanes.h"

#include <QPainter>

namespace {
const int kWidths[StatusPanes::kCount] = {70, 42, 42, 60, 275, 300};
const char* const kCaptions[StatusPanes::kCount] = {
    "Dimensions", "CSpace", "Channels", "Visible Layer", "Pixel Info (Left Click)", "Elapsed Time"};
}  // namespace

void ProgressPane::paintEvent(QPaintEvent* event) {
  if (progressStyle_ && percent_ > 0) {
    QPainter p(this);
    p.fillRect(QRect(0, 0, 3 * percent_, height()), QColor(0, 0, 255));
  }
  QLabel::paintEvent(event);
}

StatusPanes::StatusPanes(QStatusBar* bar) : bar_(bar) {
  for (int i = 0; i < kCount; ++i) {
    QLabel* label = i == 5 ? (progress_ = new ProgressPane(bar)) : new QLabel(bar);
    // The widths are minimums: a larger desktop font widens a pane rather than cutting its
    // caption; the progress pane always has room for 100 percent at 3 pixels each.
    label->setMinimumWidth(i == 5 ? 3 * 101 : kWidths[i]);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addPermanentWidget(label);
    panes_[size_t(i)] = label;
  }
  showCaptions();
}

void StatusPanes::showCaptions() {
  for (int i = 0; i < kCount; ++i) panes_[size_t(i)]->setText(kCaptions[i]);
}

void StatusPanes::setText(int pane, const QString& text) {
  if (pane < 0 || pane >= kCount) return;
  panes_[size_t(pane)]->setText(text);
  // The event loop does not run while a command works: repaint now.
  panes_[size_t(pane)]->repaint();
}

QString StatusPanes::text(int pane) const {
  return pane >= 0 && pane < kCount ? panes_[size_t(pane)]->text() : QString();
}

void StatusPanes::showProgressPane() {
  progress_->setProgressStyle(true);
  progress_->setPercent(0);
  progress_->repaint();
}

void StatusPanes::drawProgress(int percent) {
  progress_->setPercent(percent);
  progress_->repaint();
}

void StatusPanes::endProgress() {
  progress_->setProgressStyle(false);
  progress_->repaint();
}
