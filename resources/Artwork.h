#pragma once
// The program's own artwork, painted with QPainter as vector shapes: the
// sixteen toolbar images, the logo at the right of the toolbar, the program
// icon and the tall picture of the about box. Everything is drawn at the size
// and device pixel ratio asked for, so it stays sharp on high-DPI screens.

#include <QIcon>
#include <QPixmap>
#include <QSize>

class QPainter;

namespace Artwork {

constexpr int ToolbarImageCount = 16;

// Toolbar image by its image-list index (0..15): 0 diagrams, 1 treatment
// control, 2 database, 3 new diagram, 4 open, 5 save, 6 diagram settings,
// 7 zoom in, 8 previous zoom, 9 print diagram, 10 new battery, 11 battery,
// 12 search, 13 print battery data, 14 start treatment, 15 stop treatment.
// An index out of range gives an empty icon.
QIcon ToolbarImage(int index);

// Paints toolbar image `index` into the 16 x 16 unit square at the origin.
void PaintToolbarImage(QPainter &painter, int index);

// The toolbar logo, 110 x 34 logical pixels.
QSize LogoSize();
QPixmap Logo(qreal devicePixelRatio);

// Battery with a lightning bolt: window icon and about-box icon.
QIcon ProgramIcon();

// The tall picture at the right of the about box.
QPixmap AboutPicture(const QSize &size, qreal devicePixelRatio);

}  // namespace Artwork
