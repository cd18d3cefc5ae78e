#ifndef QM_TESTS_SUPPORT_STEP_HOOKS_H
#define QM_TESTS_SUPPORT_STEP_HOOKS_H

#include "support/cgi_harness.h"

// Has the program run with the test's hook library preloaded (support/step_hooks.cc
// tells what it does through which variables). The sanitizers' runtime, which wants to
// come first, is told to accept it.
inline void preload_step_hooks(CgiEnv& env) {
  env["LD_PRELOAD"] = QM_STEP_HOOKS;
  env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
}

#endif
