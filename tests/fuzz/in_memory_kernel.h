// An in-memory stand-in for the System V calls behind the settings client's
// kernel seam (settings_client/ipc/kernel_calls.h), for fuzzing the request
// code without a kernel. A program linking in_memory_kernel.cpp provides
// settings_client::kernel::Send/Receive/Attach/Detach itself, so the
// library's own definitions (an archive member of their own) are never
// linked in.
//
// Each run is scripted: how many times a send or receive is cut short by a
// signal, whether the send fails, which attaches fail, and the messages that
// wait in the queue for the client. Receives follow the kernel's rules
// (first message of the type asked for, E2BIG or truncation for a message
// longer than the buffer, EIDRM when nothing of that type will come). The
// trace records what the client did, including anything it must never do.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace in_memory_kernel {

struct Message {
    long type = 0;
    std::vector<uint8_t> text;
};

struct Script {
    int queue_id = 0;
    int segment_id = 0;
    uint8_t* segment = nullptr;  // the segment's bytes, exactly segment_size of them
    int send_interruptions = 0;
    bool send_fails = false;
    int receive_interruptions = 0;
    uint32_t attach_failures = 0;  // bit i set: the i-th attach of the run fails
    std::deque<Message> queue;     // messages waiting to be received
};

struct Trace {
    std::vector<Message> sent;  // messages the client put on the queue
    int send_calls = 0;
    int receive_calls = 0;
    int attaches = 0;
    int attached_now = 0;
    // Things the client must never do.
    bool wrong_queue = false;
    bool wrong_segment = false;
    bool wrong_text_size = false;   // a send whose text is not 20 bytes
    bool bad_receive_type = false;  // a receive of a type other than expected_type
    bool bad_detach = false;        // a detach of something not attached
    long expected_type = 0;
};

// Starts a run with `script`; the trace starts empty.
void Begin(Script script, long expected_reply_type);
const Script& CurrentScript();
const Trace& CurrentTrace();

}  // namespace in_memory_kernel
