#pragma once

namespace zelvane::python {

// True once the interpreter has run its exit hooks: from then on no module thread calls
// into the interpreter.
bool finalizing();

// Called detached, just before a thread of the interpreter attaches again. Once the exit hooks
// have run, a thread other than the exiting one first waits until the interpreter has marked
// itself as finalising: PyEval_RestoreThread then ends the thread at its first check, without
// reading the thread state that the exit is deleting. Attaching sooner, while the exit stops
// the other threads, lets CPython 3.13 resume a thread on a thread state that it frees.
// The flag stays false until the last exit hook has returned, and for ever when a program runs
// its hooks itself (atexit._run_exitfuncs()) and goes on, so the wait has one bound for the
// whole process, a second after the module's hook ran: a hook that runs after it and joins a
// thread making calls, or a program that goes on, pays it once, never once per call. Without
// the hook having run, nothing waits.
void before_reattach();

}  // namespace zelvane::python
