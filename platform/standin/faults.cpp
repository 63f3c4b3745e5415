#include "platform/standin/testing.h"

#include <array>
#include <atomic>

namespace standin {
namespace {

constexpr auto kinds = static_cast<std::size_t>(Fault::Count);
std::array<std::atomic<long>, kinds> calls{};
std::array<std::atomic<long>, kinds> fail_at{};

} // namespace

void FailNthCall(Fault kind, long n) {
    auto k = static_cast<std::size_t>(kind);
    fail_at[k] = n > 0 ? calls[k].load() + n : 0;
}

long CallCount(Fault kind) {
    return calls[static_cast<std::size_t>(kind)];
}

void ResetFaults() {
    for (std::size_t k = 0; k < kinds; ++k) {
        calls[k] = 0;
        fail_at[k] = 0;
    }
}

bool ShouldFail(Fault kind) {
    auto k = static_cast<std::size_t>(kind);
    long n = ++calls[k];
    return fail_at[k] != 0 && n == fail_at[k];
}

} // namespace standin
