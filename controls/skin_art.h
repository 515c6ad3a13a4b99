// The program's own skin pictures, drawn with QPainter so that they stay sharp at any scale.
// The build writes them beside the programs (skin/Form/); the trackbar draws its default
// pictures from the same code, so every part shares one look.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace qm::controls {

// Names of the pictures DrawSkinPicture knows, without extension.
QStringList SkinPictureNames();

// The picture `name` drawn at `scale` (1 for 100%, 2 for 200%); a null image for an unknown name.
QImage DrawSkinPicture(const QString& name, int scale = 1);

// Writes every skin picture into `folder` (created when missing) in the file format its name
// calls for, plus a twice-as-large "@2x" copy of each. Answers false with `error` set on failure.
bool WriteFormSkin(const QString& folder, QString* error = nullptr);

}  // namespace qm::controls
