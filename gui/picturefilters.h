#pragma once

#include <QString>

// The file dialog filter for every picture the program opens: photos and background
// pictures alike, since both are read the same way.
QString pictureFileFilter();
