#pragma once

// The threads of this process, for an orderly end. A device's protocol and
// unpack threads have finished their work when their QThread::wait()
// returns, but the operating system thread still runs Qt's clean-up of its
// thread data for a moment after that. A host that returns from main() in
// that moment tears down the process under a thread that is still ending:
// the C runtime's exit handlers (and a leak checker's stop of every thread)
// then race with it. dravik-host waits, bounded, for those threads first.
class ProcessThreads
{
public:
    // Threads of this process now; 0 where the system does not say.
    static int count();
    // Returns once at most threads remain, or after timeoutMs; whether they did.
    static bool waitUntilAtMost(int threads, int timeoutMs);
};
