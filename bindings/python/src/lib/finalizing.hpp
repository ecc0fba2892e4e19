#pragma once

namespace zelvane::python {

// True once the interpreter has run its exit hooks: from then on no module thread calls
// into the interpreter.
bool finalizing();

}  // namespace zelvane::python
