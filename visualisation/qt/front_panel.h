// The pictures of a station window: the station's front panel with the LED places of the LED
// table, and the analog area that fills the slot of outputs 9-16 when a station has analog
// inputs and no more than 8 outputs. Both are drawn here; a "Station.png" (600 x 320) or
// "Analog.png" (173 x 122) in the program folder replaces the drawn one, provided its LEDs sit
// at the same pixels.
#pragma once

#include <QImage>
#include <string>

namespace lumaro {

inline constexpr int kPictureWidth = 600;
inline constexpr int kPictureHeight = 320;
inline constexpr int kAnalogWidth = 173;
inline constexpr int kAnalogHeight = 122;
// Where the analog picture lies on the station picture.
inline constexpr int kAnalogX = 188;
inline constexpr int kAnalogY = 188;

QImage DrawStationPicture();
QImage DrawAnalogPicture();
// The picture from the program folder when it has one that loads, else the drawn one.
QImage StationPicture(const std::string& program_dir);
QImage AnalogPicture(const std::string& program_dir);

// The station picture as a station window shows it: with the output block copied for
// outputs 9-16, or with the analog picture in that place.
QImage ComposePicture(const QImage& station, const QImage& analog, bool copy_output_block, bool show_analog);

}  // namespace lumaro
