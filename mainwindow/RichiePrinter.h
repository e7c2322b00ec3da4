#pragma once
// Prints the lines of a Richie buffer on a paged device (a printer or a PDF
// writer) inside a page rectangle given in device pixels, wrapping long lines
// and flowing over as many pages as the text needs. One call is one job.

#include "export/Richie.h"

#include <QRect>

#include <functional>
#include <memory>

class QPagedPaintDevice;
class QPrinter;

namespace RichiePrinter {

// The page rectangle as laid out for a letter page at 360 pixels per inch:
// margin 360 pixels, reaching to 8 and 10 times the margin.
QRect DefaultPageRect();

// DefaultPageRect scaled to the device's paper and resolution, in device
// pixels: the same margins in proportion, so the text fills the page
// (on A4 about 2.5 cm left, 2.7 cm top, 1.2 cm right and 2.7 cm bottom).
QRect ScaledPageRect(const QPagedPaintDevice &device);

// The part of pageRect that lies on the device's page; the whole page when the
// rectangle misses it, so that no text is ever drawn off the paper.
QRect EffectivePageRect(const QPagedPaintDevice &device, const QRect &pageRect);

// Returns the number of pages printed (at least 1, an empty buffer prints one
// empty page). Throws ExportError when the device cannot be painted on.
int Print(const Richie &buffer, QPagedPaintDevice &device, const QRect &pageRect);
// The same inside ScaledPageRect.
int Print(const Richie &buffer, QPagedPaintDevice &device);

// Runs one print job on the printer chosen last (created on first use). A
// printer without a target refuses the job before it starts; a printer that a
// failed job left active, which would refuse every later setting and job, is
// replaced by a fresh one with the same choices, and the failure is thrown on.
void RunJob(std::unique_ptr<QPrinter> &printer, const std::function<void(QPrinter &)> &job);
// Replaces a printer that a failed job left active (see RunJob).
void Recover(std::unique_ptr<QPrinter> &printer);


} // namespace RichiePrinter
