// Keeps a top-level window on its screen: a size saved on a bigger screen
// or at a smaller scale factor (QT_SCALE_FACTOR=2 doubles every logical
// pixel) must not push the status bar or the buttons out of reach.
#pragma once

class QWidget;

namespace orvane {

// Shrinks `window` to the available area of its screen (or the primary
// one) and moves it inside that area. A window that fits stays as it is.
void FitToScreen(QWidget& window);

}  // namespace orvane
