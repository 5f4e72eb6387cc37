// A guard for tests that feed a reader something that could make it grow
// without end: the test process ends (exit code 98) once it holds more memory
// than it should, instead of taking the machine's memory with it. A limit on the
// address space would not do: AddressSanitizer reserves terabytes of it.
#pragma once

namespace qz::test {

// Ends this process once its resident size passes `megabytes`; watched from a
// thread of its own every 10 ms for the rest of the process.
void StopGrowingPast(long megabytes);

}  // namespace qz::test
