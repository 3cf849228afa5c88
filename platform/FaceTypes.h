// The values the face-metrics index and its parts hand each other: one face's vertical
// metrics, and one face as a font listing describes it.
#pragma once

#include <QString>
#include <QStringList>

// Resolved vertical metrics of one face, in font design units: the values Qt's
// font engine derives its ascent()/descent() from.
struct TFaceVMetrics {
    // How Qt turns the design values into pixels; it differs by font format.
    enum class Scaling : quint8 {
        Sfnt,  // Qt scales hhea/OS/2 values itself: to 1/64 px rounding to nearest
        Type1, // FreeType's grid-fitted size metrics: ascender up, descender down to whole px
    };

    int unitsPerEm = 0;
    int ascender = 0;  // above the baseline
    int descender = 0; // below the baseline, stored positive
    Scaling scaling = Scaling::Sfnt;

    friend bool operator==(const TFaceVMetrics&, const TFaceVMetrics&) = default;
};

// One face as a font listing describes it. Weight, slant and width use fontconfig's
// scales (FC_WEIGHT_REGULAR = 80, FC_WEIGHT_BOLD = 200; FC_SLANT_ROMAN = 0,
// FC_SLANT_ITALIC = 100, FC_SLANT_OBLIQUE = 110; FC_WIDTH_NORMAL = 100).
struct TFaceInfo {
    QStringList families; // every name the face is known by (fonts often carry localized ones)
    QString foundry;
    QString file;
    int index = 0; // FC_INDEX: face within a collection in the low 16 bits, named instance above
    int weight = 80;
    int slant = 0;
    int width = 100;
};
