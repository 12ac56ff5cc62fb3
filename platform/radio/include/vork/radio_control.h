// Control interface of the simulated air, for tests and the demo only: the system's code
// never includes this header.
#pragma once

extern "C" {

// Replaces the air with the one described by `text` (the format of
// <device root>/bluetooth/air.txt); from then on the file is no longer read. A status line
// that differs from the current status notifies the stacks. Returns the number of lines that
// could not be read.
int VorkRadio_Configure(const char* text);
// Goes back to reading the air from the file.
void VorkRadio_UseFile();
// Announces a stack status change (0 down, 1 up, 2 error, 3 unloaded, 4 reloaded) to every
// stack, on the radio's status thread. Returns once it was delivered.
void VorkRadio_StackStatus(int status);
// How often something happened in the air: "inquiries", "discoveries", "stacks" (stack
// instances created), "status" (status changes delivered), "stats" (link statistics asked).
long VorkRadio_Counter(const char* what);
void VorkRadio_ResetCounters();
}
