// Everything of the engine's math in one include: vectors, matrices, quaternions, scalar helpers.
#pragma once

#include "Base/MathUtil.h"
#include "Base/Matrix.h"
#include "Base/Quaternion.h"
#include "Base/Vector.h"
