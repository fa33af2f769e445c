// Shared set-up of the simulator tests: the fixed readings of the module.
#pragma once
#include "tools/modsim_options.h"

// The fixed readings whose reply line is "X,0,1,512,600,700,1813".
inline ModsimOptions fixed_options()
{
    ModsimOptions options;
    options.fixed_values = true;
    options.values = {512, 600, 700};
    options.switch_mode = SwitchMode::always_1;
    return options;
}
