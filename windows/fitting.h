// Texts that fit their controls and windows that fit the screen.
//
// The windows keep the places and sizes they were designed with. Where the
// system's font writes a text wider than its control, the control grows to
// the right (never moves), and so do the frames and the window around it.
// Where a window's designed place would put a part of it off the screen's
// available area (a small screen, a large scaling factor), it is moved onto
// it; where it fits, it stays where it was designed to be.
#pragma once

#include <QPoint>
#include <QRect>

class QLabel;
class QPushButton;
class QString;
class QWidget;

namespace zorm {

// The width `control` needs to show the whole of its text on one line: a
// label's (one that wraps its words needs the width it has), a push button's
// beside its picture, a check box's or option's beside its indicator. Other
// controls need the width they have.
int WidthForText(const QWidget& control);

// Widens `control` to WidthForText where it has less (never narrows it), and
// the frames and the window holding it where it would reach beyond them,
// each keeping the margin its designer left right of its controls. Every
// position stays.
void GrowToText(QWidget& control);

// Sets the text of `label` or `button` and widens it to it (GrowToText).
void ShowText(QLabel& label, const QString& text);
void ShowText(QPushButton& button, const QString& text);

// The top left corner for a window whose frame would lie at `designed`: the
// designed one where the frame fits inside `available`, otherwise moved the
// least way onto it. A window larger than `available` keeps its top left
// corner on it, so that its title bar can still be reached.
QPoint PlaceWithin(const QRect& designed, const QRect& available);

// Moves the top-level `window` to `designed` (its frame's top left corner),
// or onto the available area of the screen (PlaceWithin). The frame that the
// window manager adds is counted as large as those of the windows shown
// already; before the first one is shown it is not known and counts as none.
void PlaceOnScreen(QWidget& window, QPoint designed);

// Centres `window` on the available area of the primary screen, as
// PlaceOnScreen places it.
void CentreOnScreen(QWidget& window);

} // namespace zorm
