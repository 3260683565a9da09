#pragma once

class QComboBox;
class QRadioButton;

namespace app {

// The window keeps the two sex options exclusive itself (so that both can be clear), which Qt
// takes for check boxes when it tells a screen reader what they are. A marked option is
// announced as a radio button, checked or not, that a press selects.
void markKeptExclusive(QRadioButton* option);

// Qt names a combo box after its current text on Linux and leaves the label to a relation, so
// that a screen reader says "Felino" where it should say "Especie". A marked combo is named by
// its accessible name (its label), with the text it holds as its value.
void markLabelledCombo(QComboBox* combo);

} // namespace app
