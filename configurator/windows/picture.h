// A JPEG picture of the program as an image the windows can show.
#pragma once

#include <QImage>
#include <string>

namespace configurator::windows {

// The picture in file (found whatever the case of its name); a null image when there is none.
QImage LoadPicture(const std::string& file);

}  // namespace configurator::windows
