// The program's start.
#pragma once

#include "ui/backend.h"

#include <memory>

namespace driver {

// The program's entry, on the window thread: initialises the process
// services and the toolkit, creates the program-wide values, loads the
// update window and runs its message loop. Returns 0 when the loop ends;
// the caller then ends the process with endProcess.
int programStart();

// The same with a given toolkit backend, for tests.
int programStart(std::unique_ptr<ui::Backend> backend);

} // namespace driver
