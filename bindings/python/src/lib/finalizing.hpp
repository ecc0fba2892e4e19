#pragma once

namespace zelvane::python {

// True once the interpreter has run its exit hooks: from then on no module thread calls
// into the interpreter.
bool finalizing();

// Called detached, just before a thread of the interpreter attaches again. Once the exit hooks
// have run, a thread other than the exiting one first waits (at most a second) until the
// interpreter has marked itself as finalising: PyEval_RestoreThread then ends the thread at its
// first check, without reading the thread state that the exit is deleting. Attaching sooner,
// while the exit stops the other threads, lets CPython 3.13 resume a thread on a thread state
// that it frees. The bound keeps an exit hook that joins this thread from waiting for ever.
void before_reattach();

}  // namespace zelvane::python
