# The self-test of the lock rules' check, run by CTest in the locks build:
#   cmake -DCOMPILER=... -DFLAGS=... -DSOURCE=.../locks_compile_test.cpp -DINCLUDE=.../src -P this
# The source must compile as it is, and each rule broken on purpose (ZELVANE_BREAK=n) must be
# refused with its diagnostic: a check that refused a break for another reason (a typing slip in
# the break, a missing include) would prove nothing.

# n, what the break does, and a piece of the diagnostic it must draw.
set(cases
  "1|a guarded field written without its mutex|writing variable 'a' requires holding mutex 'p.first'"
  "2|a guarded field read without its mutex|reading variable 'b' requires holding mutex 'p.second'"
  "3|a function that needs a mutex called without it|calling function 'bump' requires holding mutex 'p.first'"
  "4|a function that takes a mutex called with it held|cannot call function 'take_first' while mutex 'p.first' is held"
  "5|two mutexes taken against their order|mutex 'first' must be acquired before 'second'"
  "6|a guarded field written between an unlock and the lock after it|writing variable 'a' requires holding mutex 'p.first'"
  "7|a predicate that does not say it runs under the mutex|reading variable 'a' requires holding mutex 'p.first'"
  "8|a mutex still held when the function returns|mutex 'p.first' is still held at the end of function"
  "9|a try_lock whose failure is not looked at|writing variable 'b' requires holding mutex 'p.second'"
  "10|a field guarded by a mutex held by reference, written once the lock is let go|writing variable 'c' requires holding mutex 'p.mutex_'")

function(compile define out_result out_text)
  execute_process(
    COMMAND "${COMPILER}" ${FLAGS} -fsyntax-only -I "${INCLUDE}" ${define} "${SOURCE}"
    RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

set(failed 0)
compile("" result text)
if(result EQUAL 0)
  message(STATUS "thread-safety self-test: every rule kept: compiles")
else()
  message(SEND_ERROR "thread-safety self-test: every rule kept: WRONG, refused:\n${text}")
  set(failed 1)
endif()

foreach(entry IN LISTS cases)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 n)
  list(GET fields 1 what)
  list(GET fields 2 want)
  compile("-DZELVANE_BREAK=${n}" result text)
  string(FIND "${text}" "${want}" at)
  if(NOT result EQUAL 0 AND at GREATER_EQUAL 0)
    message(STATUS "thread-safety self-test: ${what}: refused")
  else()
    message(SEND_ERROR "thread-safety self-test: ${what}: WRONG, wanted an error with \"${want}\", got (exit ${result}):\n${text}")
    set(failed 1)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "thread-safety self-test failed")
endif()
