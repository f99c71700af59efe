// Small math shared by positioning, attenuation and the bank readers.
#pragma once

namespace SN {

// In double precision.
float Distance(const float a[3], const float b[3]);
// y0 at or below x0, y1 at or above x1, a straight line between.
float InterpolateClamped(float x0, float y0, float x1, float y1, float x);
// Left unchanged when its length is 0 or not a number.
void Normalize(float vector[3]);
// Whole turns are taken off before the conversion, so the result stays inside one turn.
float DegreesToRadians(float degrees);
float RadiansToDegrees(float radians);

}  // namespace SN
