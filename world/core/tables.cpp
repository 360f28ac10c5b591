// The angle and projection tables, computed once at start-up so that the
// viewer's movement and the renderers never call sin or cos.
#include "core/tables.h"

#include <cmath>  // Required for: sin(), cos()

float SinTable[AngleSteps];
float CosTable[AngleSteps];
float RCosTable[AngleSteps];
float ViewHeight[HeightSteps];

void BuildTables()
{
    const double radiansPerStep = 0.002181661564992912;  // pi / 1440
    const double heightScale = 0.271828282828283;

    for (int i = 0; i < AngleSteps; i++) {
        // The angle is rounded to single precision first, and all three entries
        // come from that rounded angle: this is what puts cos(720 steps) at
        // -4.37e-8 instead of 0, and keeps every entry finite.
        const double theta = static_cast<float>(i * radiansPerStep);
        const double c = std::cos(theta);
        SinTable[i] = static_cast<float>(std::sin(theta));
        CosTable[i] = static_cast<float>(c);
        // Divided by the double cosine, not by the rounded table entry.
        RCosTable[i] = static_cast<float>(1000.0 / c);
    }
    for (int i = 0; i < HeightSteps; i++)
        ViewHeight[i] = static_cast<float>(i * heightScale);
}
