#pragma once

class QRadioButton;

namespace app {

// The window keeps the two sex options exclusive itself (so that both can be clear), which Qt
// takes for check boxes when it tells a screen reader what they are. A marked option is
// announced as a radio button, checked or not, that a press selects.
void markKeptExclusive(QRadioButton* option);

} // namespace app
