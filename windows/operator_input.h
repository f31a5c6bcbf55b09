// How the windows meet the operator's habits from the platform the tool
// comes from: Enter presses the focused button, a hidden control leaves the
// focus with its window, and the mouse cursor shows when a window is busy
// with the converter.
#pragma once

#include <Qt>

class QApplication;
class QEvent;

namespace zorm {

// The operator's habits, in every window of `application`, the ones opened
// later included (one filter on the whole application: a window needs no
// code of its own for them):
// - Enter (and the keypad's Enter) presses the push or tool button that holds
//   the input focus; Space keeps pressing it as before. Other controls keep
//   their own Enter.
// - A control hidden while it holds the focus hands the focus to its window
//   itself, as on the platform the tool comes from, not to the next control
//   of the tab order: that may be an option whose arrow keys switch the
//   sensor, or a check box that the next Space unticks.
void InstallOperatorInput(QApplication& application);

// Whether `event` is the focus leaving a control for another control of the
// same window, the moment at which the window takes what was entered there.
// A message box, a modal window, a menu or another program taking the focus
// from the whole window does not count.
bool FocusLeftForAnotherControl(const QEvent& event);

// A cursor over every window of the program while an object lives (the wait
// cursor while a window waits for the converter); the cursor before comes
// back when it goes, however its scope is left. They nest.
class CursorOverride {
public:
    explicit CursorOverride(Qt::CursorShape shape);
    ~CursorOverride();
    CursorOverride(const CursorOverride&) = delete;
    CursorOverride& operator=(const CursorOverride&) = delete;
};

} // namespace zorm
