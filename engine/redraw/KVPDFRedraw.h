#pragma once
// Redrawing a PDF the engine cannot parse: every page is drawn by poppler into a new PDF, at
// its own size and orientation. Text stays text where the renderer keeps it; annotations and
// form fields are lost. Kept out of the engine library so the engine links no renderer.
#include <QByteArray>

// The redrawn PDF, or empty when the renderer cannot read the data either. The application
// installs it as its services' redraw (KVPDFServices::redraw).
QByteArray kvRedrawPDF(const QByteArray &data);
