// Writes the skin pictures at build time:  qm_skin_generator OUTPUT_FOLDER
#include "controls/skin_art.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qm_skin_generator OUTPUT_FOLDER\n");
        return 2;
    }
    QString error;
    if (!qm::controls::WriteFormSkin(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
