// Toolbar glyphs of our own where the style's icons look disabled even when their command is
// enabled (a white page for New, a grey bin for Delete).
#pragma once

#include <QIcon>

namespace configurator::windows {

// A blank page with a yellow star: a new project.
QIcon NewProjectGlyph();
// A red cross: delete the station.
QIcon DeleteStationGlyph();

}  // namespace configurator::windows
