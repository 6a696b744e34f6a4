#pragma once
// The Ui of the desktop: Qt message boxes owned by the active window, and the status panes.
#include <QPointer>
#include <QWidget>

#include "platform/ui.h"

class StatusPanes;

class QtUi : public Ui {
 public:
  QtUi(QWidget* owner, StatusPanes* panes) : owner_(owner), panes_(panes) {}

  DialogResult MessageBox(std::string_view text, std::string_view caption,
                          MessageStyle style) override;
  void SetPaneText(int pane, std::string_view text) override;
  void ShowProgressPane() override;
  void DrawProgress(int percent) override;
  void EndProgressPane() override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  DialogResult ShowPropertiesDialog(Dialog2& dialog) override;
  DialogResult ShowPrompt(Dialog1& dialog) override;
  void PlaySoundFile(const std::string& path) override;
  void SetMonitorPower(int power) override;
  void OpenUrl(const std::string& url) override;

 private:
  QPointer<QWidget> owner_;
  StatusPanes* panes_;
};
