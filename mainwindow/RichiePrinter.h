#pragma once
// Prints the lines of a Richie buffer on a paged device (a printer or a PDF
// writer) inside a page rectangle given in device pixels, wrapping long lines
// and flowing over as many pages as the text needs. One call is one job.

#include "Richie.h"

#include <QRect>

class QPagedPaintDevice;

namespace RichiePrinter {

// The page rectangle of every printed buffer: margin 360 pixels, reaching to
// 8 and 10 times the margin.
QRect DefaultPageRect();

// The part of pageRect that lies on the device's page; the whole page when the
// rectangle misses it, so that no text is ever drawn off the paper.
QRect EffectivePageRect(const QPagedPaintDevice &device, const QRect &pageRect);

// Returns the number of pages printed (at least 1, an empty buffer prints one
// empty page). Throws ExportError when the device cannot be painted on.
int Print(const Richie &buffer, QPagedPaintDevice &device, const QRect &pageRect = DefaultPageRect());

} // namespace RichiePrinter
