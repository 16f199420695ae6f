// The scripted in-memory System V calls; see in_memory_kernel.h.
#include "in_memory_kernel.h"

#include <sys/msg.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "ipc/kernel_calls.h"

namespace in_memory_kernel {
namespace {

Script script;
Trace trace;

// The kernel's choice of message for a receive of `type`.
std::deque<Message>::iterator FindMessage(long type) {
    auto& queue = script.queue;
    if (type == 0) return queue.begin();
    if (type > 0) {
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (it->type == type) return it;
        }
        return queue.end();
    }
    auto lowest = queue.end();
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (it->type <= -type && (lowest == queue.end() || it->type < lowest->type)) lowest = it;
    }
    return lowest;
}

}  // namespace

void Begin(Script new_script, long expected_reply_type) {
    script = std::move(new_script);
    trace = Trace{};
    trace.expected_type = expected_reply_type;
}

const Script& CurrentScript() { return script; }
const Trace& CurrentTrace() { return trace; }

}  // namespace in_memory_kernel

namespace settings_client::kernel {

using in_memory_kernel::script;
using in_memory_kernel::trace;

int Send(int queue_id, const void* message, size_t text_size) {
    ++trace.send_calls;
    if (queue_id != script.queue_id) {
        trace.wrong_queue = true;
        errno = EINVAL;
        return -1;
    }
    if (text_size != 20) trace.wrong_text_size = true;
    if (script.send_interruptions > 0) {
        --script.send_interruptions;
        errno = EINTR;
        return -1;
    }
    if (script.send_fails) {
        errno = EIDRM;
        return -1;
    }
    in_memory_kernel::Message sent;
    std::memcpy(&sent.type, message, sizeof sent.type);
    const auto* text = static_cast<const uint8_t*>(message) + sizeof(long);
    sent.text.assign(text, text + text_size);
    trace.sent.push_back(std::move(sent));
    return 0;
}

ssize_t Receive(int queue_id, void* message, size_t text_size, long type, int flags) {
    ++trace.receive_calls;
    if (type != trace.expected_type) trace.bad_receive_type = true;
    if (queue_id != script.queue_id) {
        trace.wrong_queue = true;
        errno = EINVAL;
        return -1;
    }
    if (script.receive_interruptions > 0) {
        --script.receive_interruptions;
        errno = EINTR;
        return -1;
    }
    auto found = in_memory_kernel::FindMessage(type);
    if (found == script.queue.end()) {
        // Nothing of this type will ever come: the queue went away.
        errno = EIDRM;
        return -1;
    }
    size_t size = found->text.size();
    if (size > text_size) {
        if ((flags & MSG_NOERROR) == 0) {
            errno = E2BIG;
            return -1;
        }
        size = text_size;
    }
    std::memcpy(message, &found->type, sizeof found->type);
    if (size > 0)
        std::memcpy(static_cast<uint8_t*>(message) + sizeof(long), found->text.data(), size);
    script.queue.erase(found);
    return static_cast<ssize_t>(size);
}

void* Attach(int segment_id) {
    const int index = trace.attaches++;
    if (segment_id != script.segment_id) {
        trace.wrong_segment = true;
        return nullptr;
    }
    if (index < 32 && (script.attach_failures & (1u << index)) != 0) return nullptr;
    ++trace.attached_now;
    return script.segment;
}

int Detach(const void* address) {
    if (address != script.segment || trace.attached_now == 0) {
        trace.bad_detach = true;
        return -1;
    }
    --trace.attached_now;
    return 0;
}

}  // namespace settings_client::kernel
