// Form1 on Qt 6 Widgets: the program's one window. The labels are painted here; Text1 and the
// two Command1 buttons are native windows that the backend knows as this program's own.
#pragma once

#include <QWidget>

#include <array>
#include <string>

#include "target/keeping.h"
#include "target/target.h"
#include "winsys/own_windows.h"
#include "winsys/title_access.h"
#include "winsys/window_system.h"

class QLineEdit;
class QPushButton;
class QTimer;

class Form1 final : public QWidget, public FormTexts {
  public:
    // The backend's faces: the eight operations, keeping titles, learning of Form1's own
    // windows, and telling which titles can be written.
    Form1(WindowSystem& windows, TitleKeeping& keeping, OwnWindows& own_windows,
          TitleAccess& access);

    // Shows the window and runs Form_Load once the backend tells that the window manager has
    // placed it (or after a while without); Timer1 starts ticking when Form_Load ends.
    void ShowAndLoad();
    // Presses a button of Command1, as its key does: Command1_Click runs with `index`.
    void ClickCommand1(int index);
    // Writes as the write button does, then keeps the target's title at what was written.
    void WriteAndKeep();
    // Gives the target the title it had before this program first wrote to it.
    void GiveBack();

    std::string Label2Caption() const override;
    void SetLabel2Caption(const std::string& caption) override;
    std::optional<std::string> Text1Text() const override;
    void SetText1Text(const std::string& text) override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void DeclareOwnWindows();
    void Load();
    // Shows in Label1 whether the target's title is kept, or cannot be written at all, painting
    // only a change.
    void ShowMark();
    // Acts on Enter and Escape, with or without Shift; false for any other key.
    bool ActOnKey(const QKeyEvent& event);

    WindowSystem& windows_;
    TitleKeeping& keeping_;
    OwnWindows& own_windows_;
    TitleAccess& access_;
    const int dpi_;
    HWND TargetWindow = 0;
    std::string label2_caption_;
    // What Label1 says of the target after its caption.
    enum class Mark { None, Kept, ReadOnly };
    Mark mark_ = Mark::None;

    QLineEdit* Text1;
    std::array<QPushButton*, 2> Command1;
    QTimer* Timer1;
    bool loaded_ = false;
};
