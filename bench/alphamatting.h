#pragma once

#include <QImage>
#include <QString>

#include <vector>

// The refinement on real photos with a true alpha: the alpha-matting benchmark's training
// photos in `<data>/alphamatting13`, given each photo's Trimap1 as the unknown region, and
// end to end from strokes made from that trimap. OpenCV's information-flow matting on the
// same trimaps is the comparison when the benchmark was built with it.
struct AlphaMattingOptions
{
    QString dataFolder; // holds alphamatting13/
    QString only;       // one photo's name (GT04), or empty for all
    bool openCv = true;
    int runs = 1;
    bool stages = false; // print the refinement's stage times on the trimap
};

// Prints the table; returns the process's exit code.
int runAlphaMatting(const AlphaMattingOptions &options);

// A matte's alpha (blue byte 255 - opacity) as 0..1, row by row.
std::vector<float> alphaOfMatte(const QImage &matte);
