// Writes the application icon as PNG files, one per size, for the desktop installation:
//   make-icons <folder>   ->   <folder>/vektool-16.png ... vektool-256.png
#include <QDir>
#include <cstdio>

#include "app/Glyphs.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "%s: cannot create %s\n", argv[0], argv[1]);
        return 1;
    }
    for (int size : vek::kApplicationIconSizes) {
        const QString path = dir.filePath(QStringLiteral("vektool-%1.png").arg(size));
        if (!vek::applicationIconImage(size).save(path)) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(path));
            return 1;
        }
    }
    return 0;
}
