// The System V calls that the request exchange makes, behind one seam. The
// definitions in kernel_calls.cpp call the kernel; because they form an
// archive member of their own, a fuzz or fault-injection program can link the
// real request code against its own definitions of these functions instead.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace settings_client::kernel {

// msgsnd(2) with no flags; -1 and errno on failure.
int Send(int queue_id, const void* message, size_t text_size);
// msgrcv(2); the number of text bytes received, or -1 and errno.
ssize_t Receive(int queue_id, void* message, size_t text_size, long type, int flags);
// shmat(2) of the whole segment for reading and writing; nullptr on failure.
void* Attach(int segment_id);
// shmdt(2); 0 or -1.
int Detach(const void* address);

}  // namespace settings_client::kernel
