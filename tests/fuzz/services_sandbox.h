// The services mode of fuzzing: scripts use files, processes, timers, rule
// tables and memory blocks inside one private folder. Relative names, every
// drive, the home, work and search folders and the registry lead
// there; where the process may have a mount namespace of its own, every
// other mount is read-only to it, and a process of root goes on as nobody.
// Native calls are off: the memory built-ins run, but no native function is
// called (a wrongly declared one may do anything to the process). (A private PID namespace must hold the
// whole fuzzer: campaign.sh --services starts it under unshare.)
#ifndef QOTOOL_TESTS_FUZZ_SERVICES_SANDBOX_H
#define QOTOOL_TESTS_FUZZ_SERVICES_SANDBOX_H

namespace qotool::fuzz {

// Makes folder (created if missing) the sandbox of this process and of the
// processes it forks later (once entered, later calls keep it). False when
// it cannot be used.
bool EnterServicesSandbox(const char* folder);
// Before each input: the first one in a process goes on as nobody when the
// process is root's. (Not when the sandbox is entered: the fuzzer's fork
// server still maps root's shared memory after that.)
void BeginServicesInput();
// After each input: runs the timers that came due, closes every timer, and
// empties the folder every 256 inputs. Does nothing without a sandbox.
void EndServicesInput();

}  // namespace qotool::fuzz

#endif
