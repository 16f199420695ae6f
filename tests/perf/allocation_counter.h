// Counts the heap operations (malloc, calloc, realloc, free and their
// aligned forms) made by one thread between two marks, so a test can show
// that a stretch of code allocates nothing. Other threads are never counted.
#pragma once

namespace perf_test {

// Starts counting on the calling thread, from zero.
void StartCountingHeapCalls();
// Stops counting on the calling thread; returns the count since the start.
long StopCountingHeapCalls();

}  // namespace perf_test
