#pragma once
// kvprobe fill FILE --field NAME --value TEXT -o OUT [--password P]
//   Fills the text field NAME (every widget of it) with TEXT the way the program does: draws
//   each widget with QPdfWriter in its DA font, size and colour, its MK background and border,
//   stores the text as rich text under "textData", lets the engine build V, DA and AP from
//   that, and saves the full rewrite to OUT. Needs a GUI application: without
//   QT_QPA_PLATFORM the offscreen platform is used.
//   Prints {"written": OUT, "field": NAME, "widgets": n, "da": DA of the first widget}.
//   Exits 0 when OUT was written; 1 when FILE cannot be read, 2 on bad usage, 4 when FILE does
//   not open, 5 when OUT could not be written, 6 when FILE has no text field NAME.
#include "KVColor.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>

#include <optional>

// How a text field looks, for the renderer.
struct KVProbeFieldLook {
    QSizeF size;
    QString text;
    QString fontName = QStringLiteral("Helvetica");
    double fontSize = 12; // 0: fit the height
    KVColor textColor = KVColor::gray(0);
    std::optional<KVColor> background;
    std::optional<KVColor> border;
    double borderWidth = 0;
    int quadding = 0; // 0 left, 1 centre, 2 right
};

// One page of `look.size` points drawing the field, as QPdfWriter writes it. Needs a
// QGuiApplication.
QByteArray kvProbeRenderField(const KVProbeFieldLook &look);

// Rich text of `text` in one font, size and colour, as a text view stores it.
QByteArray kvProbeRichText(const QString &text, const QString &fontName, double fontSize, const KVColor &color);

// The subcommand; makes its own QGuiApplication from argc/argv.
int kvprobeFill(int argc, char **argv);
