#pragma once

#include <QImage>
#include <QList>
#include <QVector>

struct LabValue
{
    qint16 L = 0;
    qint16 a = 0;
    qint16 b = 0;
};

// CIE L*a*b* (D65) of one colour, alpha ignored, each component truncated toward zero.
LabValue rgbToLab(QRgb colour);

// A picture as three row-major planes of integer L*, a*, b*. Copies share the planes.
class CLabImage
{
public:
    CLabImage() = default;
    explicit CLabImage(const QImage &picture);

    QList<qint16> valuesAt(int x, int y) const;

    int width = 0;
    int height = 0;
    QVector<qint16> planeL;
    QVector<qint16> planeA;
    QVector<qint16> planeB;
};
