// Writes the program icon as braskon-<size>.png for the hicolor theme sizes
// into the folder given, drawn by the same code as the window icon.
#include "resources/Artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: braskon-icons ORDNER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QIcon icon = Artwork::ProgramIcon();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        const QString file = folder.filePath(QStringLiteral("braskon-%1.png").arg(size));
        if (!image.save(file)) {
            std::fprintf(stderr, "braskon-icons: %s kann nicht geschrieben werden\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
