#pragma once
// The histogram tool window: draws the curves of its Dialog3 model on black and never takes
// the focus from the image window.
#include <QWidget>

#include "app/histogram.h"

class HistogramWindow : public QWidget {
  Q_OBJECT
 public:
  explicit HistogramWindow(QWidget* parent);

  Dialog3& model() { return model_; }
  // Recomputes from an image and shows the window without activating it; an empty image
  // leaves everything as it is.
  void Refresh(const fpbuffer& image);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Dialog3 model_;
};
