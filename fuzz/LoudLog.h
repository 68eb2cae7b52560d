// The decoding targets' trap for lines a codec library writes to the
// process's log (LoudLog.cpp): FUZZ_TRAP_LOUD in the environment arms it.
#pragma once

namespace fuzz {

// Called, when set, just before the trap aborts: a target that keeps state
// between inputs writes out the inputs that led there.
extern void (*gBeforeLoudTrap)();

} // namespace fuzz
