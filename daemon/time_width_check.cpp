// Build-time check of the daemon's clock values: time_t is signed and 64 bits
// wide on every target, the 32-bit device included, so the schedule's clock
// arithmetic keeps working after 2038. Nothing here runs.
#include <ctime>
#include <type_traits>

static_assert(sizeof(std::time_t) == 8, "time_t must be 64 bits wide (_TIME_BITS=64 on 32-bit)");
static_assert(std::is_signed_v<std::time_t>, "time_t must be signed");
