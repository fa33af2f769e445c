// The program's one error status and the switch that lets a test use its own.
#include "core/error_status.h"

namespace {
ErrorStatus program_status;
ErrorStatus* current_status = &program_status;
}  // namespace

ErrorStatus& error_status() { return *current_status; }

void use_error_status(ErrorStatus* status) { current_status = status ? status : &program_status; }
