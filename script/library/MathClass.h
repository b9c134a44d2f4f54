// Math: the mathematical functions and constants, a class object of static
// rows with no state but the process-wide random generator.
#pragma once
#include "core/Types.h"
#include "script/engine/Dispatcher.h"

namespace LxScript {

using LxCore::f64;

class jsMathClass : public Dispatcher {
public:
    jsMathClass();
    // The constants, by row id.
    void get(Arguments& args) override;
};

// Rounds half up; |r| keeps the sign of x, so -0.5 gives -0.
f64 mathRound(f64 x);
f64 mathPow(f64 x, f64 y);
// k * 2^-53 in [0, 1) from one generator for the whole process, seeded once
// from the system's cryptographic source.
f64 mathRandom();

// The class object the engine library makes at its start.
Dispatcher* newMathClass(const char* className);

}  // namespace LxScript
