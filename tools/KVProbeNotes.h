#pragma once
// kvprobe add-note FILE --page N --at X,Y TEXT -o OUT [--title T] [--password P]
//   Adds a note whose icon (20 x 18 points) has its lower-left corner at X,Y of page N, with
//   TEXT as its contents and a closed pop-up beside it, both put on the page, and saves the
//   full rewrite to OUT.
// kvprobe add-freetext FILE --page N --rect X,Y,W,H TEXT -o OUT [--font F] [--size S]
//                      [--password P]
//   Adds a free-text box over the rectangle, draws TEXT into it with QPdfWriter in font F
//   (Helvetica) at S points (12), builds its appearance from that drawing the way the program
//   does, and saves to OUT. Needs a GUI application: without QT_QPA_PLATFORM the offscreen
//   platform is used.
// Both print {"written": OUT, "page": N} and exit 0 when OUT was written; 1 when FILE cannot be
// read, 2 on bad usage, 4 when FILE does not open, 5 when OUT could not be written.

// The subcommands; add-freetext makes its own QGuiApplication from argc/argv.
int kvprobeAddNote(int argc, char **argv);
int kvprobeAddFreeText(int argc, char **argv);
