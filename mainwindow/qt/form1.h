// Form1 on Qt 6 Widgets: the program's one window. The labels are painted here; Text1 and the
// two Command1 buttons are native X windows that the X11 backend knows as this program's own.
#pragma once

#include <QWidget>

#include <array>
#include <string>

#include "target/target.h"

class QLineEdit;
class QPushButton;
class QTimer;
class X11WindowSystem;

class Form1 final : public QWidget, public FormTexts {
  public:
    explicit Form1(X11WindowSystem& windows);

    // Shows the window and runs Form_Load once the window manager has framed it; Timer1 starts
    // ticking when Form_Load ends.
    void ShowAndLoad();
    // Presses a button of Command1, as its key does: Command1_Click runs with `index`.
    void ClickCommand1(int index);
    // Writes as the write button does, then keeps the target's title at what was written.
    void WriteAndKeep();
    // Gives the target the title it had before this program first wrote to it.
    void GiveBack();

    std::string Label2Caption() const override;
    void SetLabel2Caption(const std::string& caption) override;
    std::string Text1Text() const override;
    void SetText1Text(const std::string& text) override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void DeclareOwnWindows();
    void LoadWhenFramed();
    // Shows in Label1 whether the target's title is kept, painting only a change.
    void ShowKept();

    X11WindowSystem& windows_;
    const int dpi_;
    HWND TargetWindow = 0;
    std::string label2_caption_;
    bool target_kept_ = false;

    QLineEdit* Text1;
    std::array<QPushButton*, 2> Command1;
    QTimer* Timer1;
    QTimer* frame_poll_;
    int frame_polls_left_ = 0;
};
