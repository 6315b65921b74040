#pragma once

#include <QString>

// The HDF5 C library as this code base uses it: silent (errors are reported
// once, in our words, not as the library's stack on stderr) and asked for the
// most precise reason when something failed.
class Hdf5Library
{
public:
    // Switches off the library's own printing of its error stack.
    static void silence();
    // The innermost message of the library's error stack, which is then
    // cleared; empty if there is none.
    static QString takeMessage();
};
