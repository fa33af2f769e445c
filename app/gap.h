// A stretch of a run without samples, while the computer sleeps or the port is
// away: the port found again, the missed columns marked and noted.
#pragma once
#include <optional>

#include "app/run_settings.h"
#include "app/sampling.h"

enum class GapCause { port_gone, computer_asleep };

// From the column state.x on: closes the port, waits until it can be found
// again and passes a short check, marking every column whose moment passes
// meanwhile, then notes the gap. Nothing when sampling goes on at the new
// state.x; otherwise the run's ending (ESC, a failed check, the run's end).
std::optional<RunEnding> ride_out_gap(const RunSettings& settings, SamplingState& state, GapCause cause);
