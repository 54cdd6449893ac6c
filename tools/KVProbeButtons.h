#pragma once
// kvprobe's button and choice edits; each opens FILE the way the program does, makes its
// change through the engine's field classes and saves the full rewrite to OUT.
//
//   kvprobe toggle FILE --field NAME [--widget K] -o OUT [--password P]
//     Toggles widget K (from 0, in page and Annots order; default 0) of button field NAME: AS
//     and V switch to the other state. The field's value is one for all its widgets, so V is
//     the new state for each; their AS stay.
//     Prints {"written", "field", "widget", "state"}.
//   kvprobe add-button FILE --kind check|radio --rect X,Y,W,H [--page N] [--name NAME]
//                      [--export VALUE] [--on] -o OUT [--password P]
//     Puts a new check box or radio button (default name "Button", export value "Yes") on page
//     N (default 1), switched on with --on. Prints {"written", "field", "state"}.
//   kvprobe choose FILE --field NAME (--select I,J,... | --value TEXT) -o OUT [--password P]
//     Selects options I, J ... (from 0) of choice field NAME, or sets its value: a combo box
//     takes TEXT as its value, a list box selects the option whose export text is TEXT.
//     Prints {"written", "field", "selection": [...]}.
//
// Exits 0 when OUT was written; 1 when FILE cannot be read, 2 on bad usage, 4 when FILE does
// not open, 5 when OUT could not be written, 6 when FILE has no such field (or widget K), 7
// when the button has no other state to switch to or TEXT names no option of a list box.
#include <QStringList>

int kvprobeToggle(const QStringList &arguments);
int kvprobeAddButton(const QStringList &arguments);
int kvprobeChoose(const QStringList &arguments);
