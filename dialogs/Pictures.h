#pragma once
// The pictures of the about and support boxes, drawn at run time so the program needs no image
// files.

#include <QPixmap>

namespace loader
{

// The maker's picture: a circuit board with the flash chip and the serial connector, 120 x 110.
QPixmap TavrinPicture();
// A headset for technical support, 41 x 41.
QPixmap SupportPicture();

} // namespace loader
